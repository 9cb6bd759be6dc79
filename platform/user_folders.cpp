#include "platform/user_folders.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/atomic_file.h"

namespace qv {

namespace {

// An XDG variable's value when it is an absolute path, else empty.
std::string absoluteFromEnvironment(const char* name) {
    const char* value = std::getenv(name);
    if (!value || value[0] != '/') return {};
    return value;
}

std::string withSlash(std::string folder) {
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder;
}

std::string homeFolder() {
    const char* home = std::getenv("HOME");
    return home && *home ? withSlash(home) : "/";
}

std::string readProgramFolder() {
    std::string target(256, '\0');
    for (;;) {
        ssize_t got = ::readlink("/proc/self/exe", target.data(), target.size());
        if (got < 0) return {};
        if (static_cast<std::size_t>(got) < target.size()) {
            target.resize(static_cast<std::size_t>(got));
            break;
        }
        target.resize(target.size() * 2);  // the path may have been cut: try a larger buffer
    }
    std::size_t slash = target.rfind('/');
    return slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
}

bool privateFolder(const std::string& path, std::string* error) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        *error = systemError("cannot inspect " + path);
        return false;
    }
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) {
        *error = path + " is not a folder of this user";
        return false;
    }
    if ((st.st_mode & 077) != 0 && ::chmod(path.c_str(), 0700) != 0) {
        *error = systemError("cannot make " + path + " private");
        return false;
    }
    return true;
}

}  // namespace

const std::string& programFolder() {
    static const std::string folder = readProgramFolder();
    return folder;
}

std::string configFolder() {
    const char* home = std::getenv("QUORVANE_HOME");
    if (home && *home) return withSlash(home);
    std::string config = absoluteFromEnvironment("XDG_CONFIG_HOME");
    if (config.empty()) return homeFolder() + ".config/quorvane/";
    return withSlash(config) + "quorvane/";
}

std::string dataFolder() {
    std::string data = absoluteFromEnvironment("XDG_DATA_HOME");
    return data.empty() ? homeFolder() + ".local/share/" : withSlash(data);
}

std::string recentListPath() {
    return dataFolder() + "recently-used.xbel";
}

std::string runtimeFolder(std::string* error) {
    std::string runtime = absoluteFromEnvironment("XDG_RUNTIME_DIR");
    struct stat st {};
    if (!runtime.empty() && ::stat(runtime.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        std::string folder = withSlash(runtime) + "quorvane";
        if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
            *error = systemError("cannot create " + folder);
            return {};
        }
        return privateFolder(folder, error) ? folder + '/' : std::string();
    }
    // /tmp is shared: the folder may have been made by someone else first, so it is only used
    // when it is ours and closed to others.
    std::string folder = "/tmp/quorvane-" + std::to_string(::getuid());
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        *error = systemError("cannot create " + folder);
        return {};
    }
    return privateFolder(folder, error) ? folder + '/' : std::string();
}

}  // namespace qv
