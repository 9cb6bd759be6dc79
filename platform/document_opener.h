#pragma once
// Documents named by values: whether the desktop knows a program for one, and opening it with
// that program. The desktop's own opener asks xdg-mime and starts xdg-open; programs are started
// with posix_spawnp and an argument vector, never through a shell, so a name holding ';',
// "$(...)", quotes or blanks reaches the program exactly as given. Tests put a fake in its place.
#include <string>
#include <vector>

namespace qv {

class DocumentOpener {
  public:
    virtual ~DocumentOpener() = default;
    // True when a program is known for the document (a path, already joined to its folder).
    virtual bool hasProgramFor(const std::string& path) = 0;
    // Starts the default program on the document with folder as its working folder (empty:
    // this process's). True when the program could be started; it is not waited for.
    virtual bool open(const std::string& path, const std::string& folder) = 0;
};

// The opener in force: the desktop's unless a test replaced it.
DocumentOpener& documentOpener();
// Puts an opener in force (null: the desktop's again); returns the one it replaces, or null
// when that was the desktop's.
DocumentOpener* setDocumentOpener(DocumentOpener* opener);

// Runs a program found on PATH with exactly argv (argv[0] names it) in folder (empty: here).
// Waits for it when output is not null and collects what it writes to its standard output;
// otherwise a thread of its own reaps it. The exit status, 0 when not waited for, or -1 when
// it could not be started.
int runProgram(const std::vector<std::string>& argv, const std::string& folder,
               std::string* output);

}  // namespace qv
