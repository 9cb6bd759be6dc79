#pragma once
// The services of the running program, made once by the entry and handed down by reference to
// every window and dialog that needs one. Nothing below the entry reaches a service through a
// global, so a test builds a context of fakes (a memory store, the fake timers, scripted
// dialogs, a recording launcher, the in-process clipboard, fake keys) around a real window.

#include "platform/clipboard.h"
#include "platform/key_codes.h"
#include "platform/launcher.h"
#include "platform/registry.h"
#include "platform/timer.h"
#include "platform_qt/application.h"
#include "platform_qt/dialogs.h"
#include "platform_qt/message_pump.h"

namespace qv {

class InstanceListener;

struct AppContext {
    RegistryStore& store;  // the per-user settings
    MessagePump& pump;     // messages between the workers and the windows
    TimerService& timers;
    Clock& clock;
    DialogService& dialogs;
    Launcher& launcher;  // documents, addresses and help outside the program
    Clipboard& clipboard;
    KeyState& keys;
    Application& app;            // title, activation, screen, front
    InstanceListener* instance;  // later starts hand over here; null without one
};

}  // namespace qv
