#pragma once
// A window message: a number, two plain words and an owned payload. Objects that travel with a
// message (texts, refresh notices, path records) are owned by the message rather than passed as
// integers, so a message that is never delivered (its receiver is gone, the program is closing,
// its sender gave up) frees what it carries.

#include <cstdint>
#include <memory>
#include <typeinfo>
#include <utility>

namespace qv {

using MessageId = uint32_t;

// The program's private message numbers.
// Batch jobs to the main window; the job is in lParam for the first eight and 0x807B, in wParam
// for 0x806D to 0x8077.
constexpr MessageId kMsgJobAdd = 0x8065;
constexpr MessageId kMsgJobPercent = 0x8066;
constexpr MessageId kMsgJobNextPass = 0x8067;
constexpr MessageId kMsgJobFinished = 0x8068;
constexpr MessageId kMsgJobText = 0x8069;
constexpr MessageId kMsgJobRefresh = 0x806A;
constexpr MessageId kMsgJobCloseFile = 0x806B;  // sent: the job waits for the answer
constexpr MessageId kMsgJobReleaseFile = 0x806C;
constexpr MessageId kMsgJobScanning = 0x806D;
constexpr MessageId kMsgJobScanned = 0x806E;
constexpr MessageId kMsgJobBrowsing = 0x806F;
constexpr MessageId kMsgJobBrowsed = 0x8070;
constexpr MessageId kMsgJobThreadProgress = 0x8071;
constexpr MessageId kMsgJobThreadFinished = 0x8072;
constexpr MessageId kMsgJobEndThread = 0x8073;
constexpr MessageId kMsgJobDelete = 0x8074;
constexpr MessageId kMsgJobScanStart = 0x8075;
constexpr MessageId kMsgJobBrowseStart = 0x8076;
constexpr MessageId kMsgJobThreadStart = 0x8077;
constexpr MessageId kMsgJobConfirmStart = 0x807B;
// The main window's own work and the instance handoff.
constexpr MessageId kMsgSelectAll = 0x8083;
constexpr MessageId kMsgMaintenance = 0x8084;
constexpr MessageId kMsgPrint = 0x8085;
constexpr MessageId kMsgFocusView = 0x8086;
constexpr MessageId kMsgOtherInstance = 0x8087;
constexpr MessageId kMsgHideSecondPair = 0x8088;
// Messages the views post to themselves.
constexpr MessageId kMsgAppBase = 0x8000;
constexpr MessageId kMsgTreeHintClick = kMsgAppBase + 11;
constexpr MessageId kMsgTreeRenameFile = kMsgAppBase + 12;
constexpr MessageId kMsgTreeRenameSet = kMsgAppBase + 13;
constexpr MessageId kMsgTreeScrolling = kMsgAppBase + 14;
constexpr MessageId kMsgListWorkerEvent = 32969;
constexpr MessageId kMsgRecordViewFocus = 32971;
constexpr MessageId kMsgListRowHeights = 32972;
// The macro user interface.
constexpr MessageId kMsgTrayIcon = 0x808D;
constexpr MessageId kMsgCapturedKey = 0x812D;
constexpr MessageId kMsgStopReplay = 0x812E;

// One heap object of any type, owned. Empty by default.
class Payload {
  public:
    Payload() = default;
    template <class T>
    explicit Payload(std::unique_ptr<T> object)
        : object_(object.release(), [](void* p) { delete static_cast<T*>(p); }),
          type_(&typeid(T)) {}

    template <class T, class... Args>
    static Payload make(Args&&... args) {
        return Payload(std::make_unique<T>(std::forward<Args>(args)...));
    }

    bool empty() const { return object_ == nullptr; }
    // The object when it is a T, else null.
    template <class T>
    T* get() const {
        return type_ && *type_ == typeid(T) ? static_cast<T*>(object_.get()) : nullptr;
    }
    // Takes the object out when it is a T (the payload is then empty), else null.
    template <class T>
    std::unique_ptr<T> take() {
        T* object = get<T>();
        if (!object) return nullptr;
        object_.release();
        object_.reset();
        type_ = nullptr;
        return std::unique_ptr<T>(object);
    }

  private:
    using Deleter = void (*)(void*);
    static void noDelete(void*) {}
    std::unique_ptr<void, Deleter> object_{nullptr, &noDelete};
    const std::type_info* type_ = nullptr;
};

struct Message {
    MessageId id = 0;
    uintptr_t wParam = 0;
    intptr_t lParam = 0;
    Payload payload;
};

}  // namespace qv
