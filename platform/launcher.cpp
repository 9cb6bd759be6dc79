#include "platform/launcher.h"

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstring>
#include <thread>

extern char** environ;

namespace qv {

namespace {

constexpr const char* kOpener = "xdg-open";

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i]) return false;
    }
    return true;
}

bool isFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

pid_t spawnProcess(const std::vector<std::string>& argv, std::string* error) {
    if (argv.empty() || argv[0].empty()) {
        *error = "nothing to start";
        return -1;
    }
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGCHLD);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);
    pid_t pid = -1;
    int result = posix_spawnp(&pid, args[0], nullptr, &attributes, args.data(), environ);
    posix_spawnattr_destroy(&attributes);
    if (result != 0) {
        *error = "cannot start " + argv[0] + ": " + std::strerror(result);
        return -1;
    }
    return pid;
}

bool SpawnStarter::start(const std::vector<std::string>& argv, std::string* error) {
    pid_t pid = spawnProcess(argv, error);
    if (pid < 0) return false;
    std::thread([pid] { ::waitpid(pid, nullptr, 0); }).detach();
    return true;
}

bool RecordingStarter::start(const std::vector<std::string>& argv, std::string* error) {
    calls.push_back(argv);
    if (!succeed) *error = "cannot start " + (argv.empty() ? std::string() : argv[0]);
    return succeed;
}

std::vector<std::string> openDocumentArgs(std::string_view path) {
    std::string target(path);
    if (!target.empty() && target.front() == '-') target.insert(0, "./");
    return {kOpener, target};
}

std::vector<std::string> openWebArgs(std::string_view address) {
    std::string target(address);
    if (target.find("://") == std::string::npos) target.insert(0, "http://");
    return {kOpener, target};
}

std::vector<std::string> openEmailArgs(std::string_view address) {
    std::string target(address);
    if (!startsWithNoCase(target, "mailto:")) target.insert(0, "mailto:");
    return {kOpener, target};
}

Launcher::Launcher(ProcessStarter& starter, std::string programFolder)
    : starter_(starter), helpFolder_(std::move(programFolder) + "help/") {}

bool Launcher::run(std::vector<std::string> argv) {
    error_.clear();
    if (argv.size() < 2 || argv[1].empty()) {
        error_ = "nothing to open";
        return false;
    }
    return starter_.start(argv, &error_);
}

bool Launcher::openDocument(std::string_view path) {
    return run(path.empty() ? std::vector<std::string>{} : openDocumentArgs(path));
}

bool Launcher::openWebAddress(std::string_view address) {
    return run(address.empty() ? std::vector<std::string>{} : openWebArgs(address));
}

bool Launcher::openEmailAddress(std::string_view address) {
    return run(address.empty() ? std::vector<std::string>{} : openEmailArgs(address));
}

bool Launcher::hasHelp() const {
    struct stat st {};
    return ::stat(helpFolder_.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Launcher::showHelp(int context) {
    error_.clear();
    std::string page = helpFolder_ + std::to_string(context) + ".html";
    if (!isFile(page)) page = helpFolder_ + "0.html";
    if (!isFile(page)) {
        error_ = "no help";
        return false;
    }
    return starter_.start(openDocumentArgs(page), &error_);
}

}  // namespace qv
