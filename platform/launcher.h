#pragma once
// Opening things outside the program: a document or folder in the desktop's program for it, a
// web or e-mail address in the user's browser or mail program, a help page. Everything goes
// through xdg-open, started from an argument vector and never from a shell command line, so a
// value holding quotes, spaces, ';' or "$()" stays one argument and nothing in it is run. The
// started process is not waited for, and a failure to start it is reported to the caller
// (which, for links, says nothing to the user).

#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

namespace qv {

class ProcessStarter {
  public:
    virtual ~ProcessStarter() = default;
    // Starts argv[0], looked up in PATH, with argv as its arguments; false, with error set,
    // when it cannot be started.
    virtual bool start(const std::vector<std::string>& argv, std::string* error) = 0;
};

// posix_spawnp in a session of its own (the opened program outlives ours); the child is reaped
// in the background.
class SpawnStarter : public ProcessStarter {
  public:
    bool start(const std::vector<std::string>& argv, std::string* error) override;
};

// Records each argument vector instead of starting anything.
class RecordingStarter : public ProcessStarter {
  public:
    bool start(const std::vector<std::string>& argv, std::string* error) override;

    std::vector<std::vector<std::string>> calls;
    bool succeed = true;  // what start answers
};

// Starts argv as SpawnStarter does and returns the child for the caller to reap; -1, with
// error set, when it cannot be started.
pid_t spawnProcess(const std::vector<std::string>& argv, std::string* error);

// The argument vectors: a path ("./" put before one that begins with '-', which xdg-open would
// take for an option); a web address ("http://" put before one without "://"); an e-mail
// address ("mailto:" put before one without it).
std::vector<std::string> openDocumentArgs(std::string_view path);
std::vector<std::string> openWebArgs(std::string_view address);
std::vector<std::string> openEmailArgs(std::string_view address);

class Launcher {
  public:
    // programFolder ends in '/'; help pages are in its "help" folder.
    Launcher(ProcessStarter& starter, std::string programFolder);

    bool openDocument(std::string_view path);
    bool openWebAddress(std::string_view address);
    bool openEmailAddress(std::string_view address);

    // Whether the program has help at all (its help folder exists).
    bool hasHelp() const;
    // Opens "help/<context>.html", or the contents page "help/0.html" when that page is
    // missing; false when there is no help.
    bool showHelp(int context);

    const std::string& lastError() const { return error_; }

  private:
    bool run(std::vector<std::string> argv);

    ProcessStarter& starter_;
    std::string helpFolder_;
    std::string error_;
};

}  // namespace qv
