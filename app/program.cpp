#include "app/program.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "platform/clipboard.h"
#include "platform/log.h"
#include "platform/user_folders.h"

namespace qv {

std::string commandLineOf(int argc, char** argv) {
    std::string line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) line += ' ';
        line += argv[i];
    }
    return line;
}

Program::Program(RegistryStore& store, std::unique_ptr<InstanceServer> server,
                 const std::string& commandLine)
    : launcher_(starter_, programFolder()),
      clipboard_(pump_),
      instance_(server ? std::make_unique<InstanceListener>(std::move(server)) : nullptr),
      context_{store,     pump_,      timers_, clock_, dialogs_,
               launcher_, clipboard_, keys_,   app_,   instance_.get()} {
    app_.setTitle(mainFormTitle({}));
    setClipboard(&clipboard_);  // the engine's copies and pastes reach the desktop's
    mainForm_ = std::make_unique<TMainForm>(context_);
    mainForm_->setCommandLine(commandLine);
    if (instance_) {
        instance_->setOnHandoff([this] {
            pump_.send(mainForm_->handle(), Message{kMsgOtherInstance, 0, 0, {}});
        });
    }
    stopSignals_ = std::make_unique<StopSignals>([this] { mainForm_->close(); });
}

Program::~Program() {
    stopSignals_.reset();
    instance_.reset();  // no handoff reaches a window that is going
    mainForm_.reset();
    setClipboard(nullptr);
}

int runProgram(int argc, char** argv) {
    const std::string commandLine = commandLineOf(argc, argv);
    RegistryStore store(RegistryStore::defaultPath());
    std::unique_ptr<InstanceServer> server;
    std::string error;
    const std::string runtime = runtimeFolder(&error);
    if (runtime.empty()) {
        logWarning("starting without the single-instance check: " + error);
    } else {
        InstanceStart start = startInstance(runtime, store, commandLine);
        switch (start.role) {
            case InstanceRole::handedOver:
                return 0;
            case InstanceRole::failed:
                std::fprintf(stderr, "quorvane: %s\n", start.error.c_str());
                return 1;
            case InstanceRole::first:
                server = std::move(start.server);
                break;
        }
    }

    if (auto platform = Application::platformFor(
            std::getenv("QT_QPA_PLATFORM"), std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY")))
        ::setenv("QT_QPA_PLATFORM", platform->c_str(), 1);
    // Every argument belongs to the file name: Qt takes its own settings from the environment.
    int qtArgc = 1;
    QApplication qtApp(qtArgc, argv);
    QApplication::setApplicationName("Quorvane");
    Program program(store, std::move(server), commandLine);
    program.mainForm().show();
    return QApplication::exec();
}

}  // namespace qv
