#include "platform/document_opener.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <thread>

extern char** environ;

namespace qv {

namespace {

std::string trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
    return s;
}

class DesktopOpener : public DocumentOpener {
  public:
    bool hasProgramFor(const std::string& path) override {
        std::string type, program;
        if (runProgram({"xdg-mime", "query", "filetype", path}, "", &type) != 0) return false;
        type = trimmed(type);
        if (type.empty()) return false;
        if (runProgram({"xdg-mime", "query", "default", type}, "", &program) != 0) return false;
        return !trimmed(program).empty();
    }
    bool open(const std::string& path, const std::string& folder) override {
        return runProgram({"xdg-open", path}, folder, nullptr) == 0;
    }
};

DesktopOpener desktop;
std::atomic<DocumentOpener*> current{nullptr};

}  // namespace

DocumentOpener& documentOpener() {
    DocumentOpener* o = current.load();
    return o != nullptr ? *o : desktop;
}

DocumentOpener* setDocumentOpener(DocumentOpener* opener) {
    return current.exchange(opener);
}

int runProgram(const std::vector<std::string>& argv, const std::string& folder,
               std::string* output) {
    if (argv.empty()) return -1;
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) return -1;
    int pipeFds[2] = {-1, -1};
    bool ok = true;
    if (output != nullptr) {
        ok = pipe2(pipeFds, O_CLOEXEC) == 0 &&
             posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1) == 0;
    }
    if (ok && !folder.empty())
        ok = posix_spawn_file_actions_addchdir_np(&actions, folder.c_str()) == 0;
    pid_t pid = -1;
    if (ok) ok = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    if (pipeFds[1] >= 0) close(pipeFds[1]);
    if (!ok) {
        if (pipeFds[0] >= 0) close(pipeFds[0]);
        return -1;
    }
    if (output == nullptr) {
        std::thread([pid] { waitpid(pid, nullptr, 0); }).detach();
        return 0;
    }
    output->clear();
    char buffer[4096];
    for (;;) {
        ssize_t n = read(pipeFds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        output->append(buffer, size_t(n));
    }
    close(pipeFds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace qv
