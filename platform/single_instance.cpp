#include "platform/single_instance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/atomic_file.h"
#include "platform/log.h"
#include "platform/ofd_lock.h"

namespace qv {

namespace {

// What a second instance sends and what the first answers once its handler has returned.
constexpr std::string_view kRequest = "0x8087\n";
constexpr std::string_view kAnswer = "done\n";
// A connected second instance sends its request at once; one that does not is dropped after
// this long so that it cannot hold the user-interface thread.
constexpr int kRequestWaitMs = 2000;
constexpr int kConnectRetryMs = 20;
constexpr int kClosingWaitMs = 1000;

using Clock = std::chrono::steady_clock;

int msLeft(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

// Binds or connects fd to folder + name. A path too long for a socket address goes through
// the folder's descriptor in /proc, which any path length fits.
bool socketCall(int fd, const std::string& folder, const std::string& name, bool bind) {
    std::string path = folder + name;
    int folderFd = -1;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        folderFd = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (folderFd < 0) return false;
        path = "/proc/self/fd/" + std::to_string(folderFd) + "/" + name;
        if (path.size() >= sizeof address.sun_path) {
            ::close(folderFd);
            errno = ENAMETOOLONG;
            return false;
        }
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    auto* raw = reinterpret_cast<const sockaddr*>(&address);
    int result = bind ? ::bind(fd, raw, sizeof address) : ::connect(fd, raw, sizeof address);
    int saved = errno;
    if (folderFd >= 0) ::close(folderFd);
    errno = saved;
    return result == 0;
}

bool sendAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

// Reads until a line break, the end, at most 64 bytes, or timeoutMs (-1: no limit).
std::string receiveLine(int fd, int timeoutMs) {
    std::string line;
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (line.size() < 64 && (line.empty() || line.back() != '\n')) {
        pollfd p{fd, POLLIN, 0};
        int ready = ::poll(&p, 1, timeoutMs < 0 ? -1 : msLeft(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break;
        char c;
        ssize_t got = ::recv(fd, &c, 1, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        line += c;
    }
    return line;
}

int openLockFile(const std::string& path, std::string* error) {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) *error = systemError("cannot open " + path);
    return fd;
}

enum class Handoff { delivered, firstGone, failed };

}  // namespace

bool isInstanceTitle(std::string_view title) {
    std::size_t cut = title.find(" - ");
    if (cut == std::string_view::npos) cut = title.find(" (");
    return title.substr(0, cut) == "Quorvane";
}

std::string readStartFile(RegistryStore& store) {
    Registry reg(store);
    std::string value;
    if (reg.openKeyReadOnly(kFilesKey) != RegResult::ok ||
        reg.readString(kStartFileValue, &value) != RegResult::ok)
        value.clear();
    return value;
}

InstanceServer::InstanceServer(int lockFd, int listenFd, std::string socketPath)
    : lockFd_(lockFd), listenFd_(listenFd), socketPath_(std::move(socketPath)) {}

InstanceServer::~InstanceServer() {
    // The socket goes while the lock is still held, so no newcomer's socket is removed.
    ::close(listenFd_);
    ::unlink(socketPath_.c_str());
    ::close(lockFd_);
}

int InstanceServer::servePending(int waitMs) {
    if (waitMs > 0) {
        pollfd p{listenFd_, POLLIN, 0};
        while (::poll(&p, 1, waitMs) < 0 && errno == EINTR) {
        }
    }
    int served = 0;
    for (;;) {
        int connection = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            return served;  // EAGAIN: nobody else waits
        }
        ucred peer{};
        socklen_t size = sizeof peer;
        bool ours = ::getsockopt(connection, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 &&
                    peer.uid == ::getuid();
        if (ours && receiveLine(connection, kRequestWaitMs) == kRequest) {
            serveOne(connection);
            ++served;
        }
        ::close(connection);
    }
}

void InstanceServer::serveOne(int connection) {
    if (onHandoff_) onHandoff_();
    sendAll(connection, kAnswer);  // a second instance that went away meanwhile is no matter
}

// Makes the first instance's server or hands over; one attempt of startInstance.
class InstanceStarter {
  public:
    InstanceStarter(const std::string& folder, RegistryStore& store, std::string_view commandLine,
                    const HandoffTimeouts& timeouts)
        : folder_(folder), store_(store), commandLine_(commandLine), timeouts_(timeouts) {}

    InstanceStart attempt() {
        InstanceStart start;
        int lockFd = openLockFile(folder_ + "instance.lock", &start.error);
        if (lockFd < 0) return start;
        switch (ofdTryLock(lockFd, 0, 1, true)) {
            case OfdResult::ok:
                return becomeFirst(lockFd);
            case OfdResult::failed:
                start.error = systemError("cannot lock " + folder_ + "instance.lock");
                ::close(lockFd);
                return start;
            case OfdResult::busy:
                break;
        }
        Handoff handoff = handOver(lockFd, &start.error);
        ::close(lockFd);
        if (handoff == Handoff::delivered) start.role = InstanceRole::handedOver;
        if (handoff == Handoff::firstGone) firstGone_ = true;
        return start;
    }
    bool firstGone() const { return firstGone_; }

  private:
    InstanceStart becomeFirst(int lockFd) {
        InstanceStart start;
        std::string socketPath = folder_ + "instance.sock";
        ::unlink(socketPath.c_str());  // left by a first instance that was killed
        int listenFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (listenFd < 0 || !socketCall(listenFd, folder_, "instance.sock", true) ||
            ::listen(listenFd, 16) != 0) {
            start.error = systemError("cannot listen on " + socketPath);
            if (listenFd >= 0) ::close(listenFd);
            ::close(lockFd);
            return start;
        }
        start.role = InstanceRole::first;
        start.server.reset(new InstanceServer(lockFd, listenFd, socketPath));
        return start;
    }

    // Whether the first instance still holds its lock.
    bool firstAlive(int lockFd) { return ofdHeldByOther(lockFd, 0, 1); }

    Handoff handOver(int lockFd, std::string* error) {
        int queueFd = openLockFile(folder_ + "handoff.lock", error);
        if (queueFd < 0) return Handoff::failed;
        if (!ofdLockWait(queueFd, 0, 1, true)) {
            *error = systemError("cannot lock " + folder_ + "handoff.lock");
            ::close(queueFd);
            return Handoff::failed;
        }
        Registry reg(store_);
        bool wrote = false;
        if (!commandLine_.empty()) {
            wrote = reg.openKey(kFilesKey, true) == RegResult::ok &&
                    reg.writeString(kStartFileValue, commandLine_) == RegResult::ok;
            // Without the value the first instance still comes to the front.
            if (!wrote) logWarning("the command line could not be handed to the running instance");
        } else if (reg.openKey(kFilesKey, false) == RegResult::ok) {
            (void)reg.deleteValue(kStartFileValue);
        }
        Handoff result = deliver(lockFd, error);
        if (wrote) (void)reg.deleteValue(kStartFileValue);
        ::close(queueFd);  // the next second instance may go
        return result;
    }

    Handoff deliver(int lockFd, std::string* error) {
        Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeouts_.connectMs);
        int fd = -1;
        for (;;) {
            fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (fd < 0) {
                *error = systemError("cannot make a socket");
                return Handoff::failed;
            }
            if (socketCall(fd, folder_, "instance.sock", false)) break;
            ::close(fd);
            if (!firstAlive(lockFd)) return Handoff::firstGone;
            if (msLeft(deadline) == 0) {
                *error = "the running instance does not listen";
                return Handoff::failed;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(kConnectRetryMs));
        }
        bool answered = sendAll(fd, kRequest) && receiveLine(fd, timeouts_.answerMs) == kAnswer;
        ::close(fd);
        if (answered) return Handoff::delivered;
        // A first instance that is closing drops the connection just before its lock goes.
        for (int waited = 0; waited <= kClosingWaitMs; waited += kConnectRetryMs) {
            if (!firstAlive(lockFd)) return Handoff::firstGone;
            std::this_thread::sleep_for(std::chrono::milliseconds(kConnectRetryMs));
        }
        *error = "the running instance did not answer";
        return Handoff::failed;
    }

    const std::string& folder_;
    RegistryStore& store_;
    std::string commandLine_;
    const HandoffTimeouts& timeouts_;
    bool firstGone_ = false;
};

InstanceStart startInstance(const std::string& runtimeFolder, RegistryStore& store,
                            std::string_view commandLine, const HandoffTimeouts& timeouts) {
    // Each round either ends or found the first instance gone, which a later round replaces.
    InstanceStart start;
    for (int round = 0; round < 5; ++round) {
        InstanceStarter starter(runtimeFolder, store, commandLine, timeouts);
        start = starter.attempt();
        if (!starter.firstGone()) return start;
    }
    start.error = "the running instance keeps going away";
    return start;
}

}  // namespace qv
