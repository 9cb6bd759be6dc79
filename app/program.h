#pragma once
// The program's entry: it becomes the first instance of the user's session or hands its
// command line to the running one and ends; the first instance makes the services, the main
// window and the instance listener, and runs until the main window closes.

#include <memory>
#include <string>

#include "platform/launcher.h"
#include "platform/registry.h"
#include "platform/single_instance.h"
#include "platform/timer.h"
#include "platform_qt/app_context.h"
#include "platform_qt/application.h"
#include "platform_qt/instance_listener.h"
#include "platform_qt/qt_clipboard.h"
#include "platform_qt/qt_dialogs.h"
#include "platform_qt/qt_key_state.h"
#include "platform_qt/qt_message_pump.h"
#include "platform_qt/qt_timers.h"
#include "platform_qt/stop_signals.h"
#include "ui/main_form.h"

namespace qv {

// The text the program was started with, taken as one file name: the arguments joined by
// spaces, so that a path with spaces given without quotes arrives whole. Empty without any.
std::string commandLineOf(int argc, char** argv);

// The first instance once the QApplication stands: its services, the context that hands them
// down, the main window (told the command line) and the listener that passes later starts to
// it as message 0x8087. Made in this order and undone in the reverse. Stop signals close the
// main window as the user would.
class Program {
  public:
    // server: the first instance's listener, or null to run without one.
    Program(RegistryStore& store, std::unique_ptr<InstanceServer> server,
            const std::string& commandLine);
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    AppContext& context() { return context_; }
    TMainForm& mainForm() { return *mainForm_; }

  private:
    SteadyClock clock_;
    QtMessagePump pump_;
    QtTimerService timers_;
    QtDialogs dialogs_;
    SpawnStarter starter_;
    Launcher launcher_;
    QtClipboard clipboard_;
    QtKeyState keys_;
    Application app_;
    std::unique_ptr<InstanceListener> instance_;
    AppContext context_;
    std::unique_ptr<TMainForm> mainForm_;
    std::unique_ptr<StopSignals> stopSignals_;
};

// The entry. 0 when handed over or when the main window closed; 1 when neither this start nor
// the running instance could take the command line.
int runProgram(int argc, char** argv);

}  // namespace qv
