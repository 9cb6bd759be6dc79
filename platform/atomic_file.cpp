#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qv {

namespace {

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t done = ::write(fd, bytes.data(), bytes.size());
        if (done < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(done));
    }
    return true;
}

bool syncFolder(const std::string& folder) {
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

}  // namespace

std::string systemError(std::string_view what) {
    std::string text(what);
    text += ": ";
    text += std::strerror(errno);
    return text;
}

std::string folderOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return "./";
    return path.substr(0, slash + 1);
}

ReadFileResult readAllBounded(int fd, std::size_t maxBytes, std::string* out) {
    out->clear();
    char buffer[65536];
    for (;;) {
        std::size_t room = maxBytes - out->size();
        // One byte past the bound tells a file of exactly maxBytes from a longer one.
        std::size_t want = room + 1 < sizeof buffer ? room + 1 : sizeof buffer;
        ssize_t got = ::read(fd, buffer, want);
        if (got < 0) {
            if (errno == EINTR) continue;
            return ReadFileResult::failed;
        }
        if (got == 0) return ReadFileResult::ok;
        std::size_t n = static_cast<std::size_t>(got);
        if (n > room) {
            out->append(buffer, room);
            return ReadFileResult::tooLarge;
        }
        out->append(buffer, n);
    }
}

ReadFileResult readFileBounded(const std::string& path, std::size_t maxBytes, std::string* out) {
    out->clear();
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? ReadFileResult::missing : ReadFileResult::failed;
    ReadFileResult result = readAllBounded(fd, maxBytes, out);
    ::close(fd);
    return result;
}

bool replaceFileAtomically(const std::string& path, std::string_view bytes, std::string* error,
                           const std::function<bool()>& beforeRename, int* keepFd) {
    std::string temp = path + kTemporarySuffix + "XXXXXX";
    int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        *error = systemError("cannot create a temporary file beside " + path);
        return false;
    }
    auto fail = [&](const std::string& text) {
        *error = text;
        ::close(fd);
        ::unlink(temp.c_str());
        return false;
    };
    if (::fchmod(fd, 0600) != 0 || !writeAll(fd, bytes) || ::fsync(fd) != 0)
        return fail(systemError("cannot write " + temp));
    if (beforeRename && !beforeRename()) return fail(*error);
    if (::rename(temp.c_str(), path.c_str()) != 0)
        return fail(systemError("cannot rename " + temp + " to " + path));
    if (!syncFolder(folderOf(path))) {
        // The rename is done; only its durability is in doubt, so the new file stands.
        *error = systemError("cannot sync the folder of " + path);
    }
    if (keepFd) {
        *keepFd = fd;
    } else {
        ::close(fd);
    }
    return true;
}

bool makeFolders(const std::string& path, mode_t mode, std::string* error) {
    if (path.empty()) return true;
    std::size_t at = 0;
    while (at != std::string::npos) {
        at = path.find('/', at + 1);
        std::string part = path.substr(0, at);
        if (part.empty() || part == "/") continue;
        if (::mkdir(part.c_str(), mode) != 0 && errno != EEXIST) {
            *error = systemError("cannot create the folder " + part);
            return false;
        }
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        *error = "not a folder: " + path;
        return false;
    }
    return true;
}

}  // namespace qv
