#pragma once
// One running instance of the program per user.
//
// The first process to take the instance lock (an open-file-description lock on
// "instance.lock" in the runtime folder) is the first instance; it listens on the local socket
// "instance.sock" beside it. A later start hands its command line over and ends:
//   1. it takes the handoff lock ("handoff.lock"): second instances pass one at a time, so the
//      single "StartFile" value never carries two paths at once and none is lost;
//   2. it writes its command line as "StartFile" under \Software\Quorvane\6.0\Files (with an
//      empty command line it deletes any "StartFile" left by a second instance that died);
//   3. it connects and sends the handoff request (message 0x8087); the first instance runs its
//      handler, which reads "StartFile" and opens it, and answers once the handler returned;
//   4. it deletes "StartFile" and lets the handoff lock go.
// Locks belong to open file descriptions, so a killed process loses them at once. A socket left
// by a killed first instance is replaced by whoever takes the instance lock next, and a second
// instance that finds the first gone takes the lock and becomes the first itself.
//
// The first instance serves from the thread that calls servePending (the desktop calls it
// when socketFd() becomes readable, on the user-interface thread), so the handler runs there.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/registry.h"

namespace qv {

inline constexpr uint32_t kInstanceHandoffMessage = 0x8087;
inline constexpr const char* kFilesKey = "\\Software\\Quorvane\\6.0\\Files";
inline constexpr const char* kStartFileValue = "StartFile";

// True for the title of one of our windows: cut at its first " - ", or failing that at its
// first " (", it is exactly "Quorvane".
bool isInstanceTitle(std::string_view title);

class InstanceServer {
  public:
    ~InstanceServer();
    InstanceServer(const InstanceServer&) = delete;
    InstanceServer& operator=(const InstanceServer&) = delete;

    // The listening socket; readable while a second instance waits to be served.
    int socketFd() const { return listenFd_; }
    // Runs once for each handoff, on the thread that calls servePending.
    void setOnHandoff(std::function<void()> onHandoff) { onHandoff_ = std::move(onHandoff); }
    // Serves every second instance waiting now, first waiting up to waitMs for one (0: do not
    // wait). Returns how many were served.
    int servePending(int waitMs = 0);

  private:
    friend class InstanceStarter;
    InstanceServer(int lockFd, int listenFd, std::string socketPath);
    void serveOne(int connection);

    int lockFd_;
    int listenFd_;
    std::string socketPath_;
    std::function<void()> onHandoff_;
};

enum class InstanceRole { first, handedOver, failed };

struct InstanceStart {
    InstanceRole role = InstanceRole::failed;
    std::unique_ptr<InstanceServer> server;  // the first instance's
    std::string error;                       // why it failed
};

struct HandoffTimeouts {
    int connectMs = 10000;  // for a first instance that holds the lock but does not listen yet
    int answerMs = -1;      // for the first instance's handler; -1 waits as long as it runs
};

// Becomes the first instance or hands commandLine (the whole argument text, one file name or
// empty) to the running one. runtimeFolder ends in '/' (runtimeFolder() of user_folders.h).
InstanceStart startInstance(const std::string& runtimeFolder, RegistryStore& store,
                            std::string_view commandLine, const HandoffTimeouts& timeouts = {});

// The first instance's side: the "StartFile" value, empty when there is none.
std::string readStartFile(RegistryStore& store);

}  // namespace qv
