// Documents named by values, and renaming the four files of a database (see ztfile.h).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/document_opener.h"
#include "platform/share_mode.h"
#include "ztdb/ztassert.h"
#include "ztdb/ztfile.h"

namespace {

constexpr int kMinDocument = 3;
constexpr int kMaxDocument = 260;
constexpr int kMaxExtension = 7;  // characters after the last '.'

// A name a program could be asked for: 3 to 260 characters and an extension of 1 to 7
// characters that does not start with a blank.
bool documentNameFits(const char* document) {
    const size_t n = document != nullptr ? std::strlen(document) : 0;
    if (n < size_t(kMinDocument) || n > size_t(kMaxDocument)) return false;
    const char* dot = std::strrchr(document, '.');
    if (dot == nullptr) return false;
    const size_t after = n - size_t(dot - document) - 1;
    return after >= 1 && after <= size_t(kMaxExtension) && dot[1] != ' ';
}

std::string joinFolder(const char* document, const char* folder) {
    if (document[0] == '/' || folder == nullptr || *folder == '\0') return document;
    std::string f = folder;
    if (f.back() != '/') f += '/';
    return f + document;
}

// Injected move failures (ztFailMove).
std::atomic<int> failCountdown{0};
std::atomic<int> failError{0};

// Moves a file without ever replacing one; 0 or an errno value.
int moveFile(const std::string& from, const std::string& to) {
    if (failCountdown.load() > 0 && failCountdown.fetch_sub(1) == 1) return failError.load();
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    // A file system without the flag: a second link and the old name removed, which also
    // refuses an existing target.
    if (link(from.c_str(), to.c_str()) != 0) return errno;
    if (unlink(from.c_str()) != 0) {
        const int e = errno;
        unlink(to.c_str());
        return e;
    }
    return 0;
}

int32_t moveError(int error) {
    if (error == EACCES || error == EPERM) return -14;
    if (error == EEXIST || error == ENOTEMPTY) return -1;
    return -4;
}

// A name the base-name rule finds again: no folder separators, and no '.' but a leading one.
bool newNameFits(const char* name) {
    if (name == nullptr || *name == '\0' || std::strcmp(name, ".") == 0) return false;
    return std::strpbrk(name, "/\\") == nullptr && std::strchr(name + 1, '.') == nullptr;
}

}  // namespace

void ztFailMove(int nth, int error) {
    failError.store(error);
    failCountdown.store(nth > 0 ? nth : 0);
}

bool ZTFile::hasProgramFor(const char* document, const char* folder, bool noCache) {
    if (!documentNameFits(document)) return false;
    if (!noCache) {
        const int cached = executables_.get(document);
        if (cached >= 0) return cached == 1;
    }
    const bool answer = qv::documentOpener().hasProgramFor(joinFolder(document, folder));
    executables_.put(document, answer ? 1 : 0);
    return answer;
}

// xdg-open opens a document or an address and takes nothing more: the parameters have no
// program to go to.
bool ZTFile::shellExecute(const char* document, const char* folder, const char*) {
    if (document == nullptr || *document == '\0') return false;
    return qv::documentOpener().open(joinFolder(document, folder), folder != nullptr ? folder : "");
}

bool ZTFile::rename(const char* newName) {
    if (!ZT_ASSERT(isValid())) return false;
    close();
    lastError_ = -4;
    if (!newNameFits(newName)) return false;
    ZTStr folder;
    getFolder(&folder);
    const std::string target = std::string(folder.text) + (folder.equals("/") ? "" : "/") + newName;
    if (target == path_) {
        lastError_ = 0;
        return true;
    }
    // All four files (and the commit journal and change sequence, when there are) move, or none:
    // every target is checked first, and what moved goes back when a later move fails.
    struct Move {
        std::string from, to;
    };
    std::vector<Move> moves;
    for (const char* ext : {"ZT", "ZT2", "IX", "IX2", "ZTJ", "ZTS"}) {
        const std::string from = tablePath(ext);
        struct stat st {};
        if (lstat(from.c_str(), &st) != 0) {
            if (moves.empty()) return false;  // no row table: nothing to rename
            continue;
        }
        const std::string taken = findTablePath(target, ext);
        if (lstat(taken.c_str(), &st) == 0) {
            lastError_ = -1;
            return false;
        }
        moves.push_back({from, target + from.substr(path_.size())});
    }
    const int fd = ::open(moves[0].from.c_str(), O_RDONLY | O_CLOEXEC);
    const bool busy = fd >= 0 && qv::shareInUseByOther(fd);
    if (fd >= 0) ::close(fd);
    if (busy) {
        lastError_ = -14;
        return false;
    }
    for (size_t i = 0; i < moves.size(); ++i) {
        const int error = moveFile(moves[i].from, moves[i].to);
        if (error != 0) {
            while (i-- > 0)
                if (moveFile(moves[i].to, moves[i].from) != 0) break;  // nothing more can be done
            lastError_ = moveError(error);
            return false;
        }
    }
    takePath(target);
    lastError_ = 0;
    return true;
}
