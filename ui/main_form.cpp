#include "ui/main_form.h"

#include <QShowEvent>
#include <cmath>

#include "platform/log.h"
#include "platform/single_instance.h"

namespace qv {

namespace {

constexpr const char* kTitle = "Quorvane";

// Without stored placement the window takes the middle 90 % of the screen.
QRect defaultPlacement(QSize screen) {
    auto part = [](int pixels, double share) { return int(std::lround(pixels * share)); };
    return QRect(part(screen.width(), 0.05), part(screen.height(), 0.05), part(screen.width(), 0.9),
                 part(screen.height(), 0.9));
}

}  // namespace

std::string mainFormTitle(std::string_view databaseFileName) {
    std::string title = kTitle;
    if (!databaseFileName.empty()) {
        title += " - ";
        title += databaseFileName;
    }
    return title;
}

TMainForm::TMainForm(AppContext& context)
    : context_(context), receiver_(context.pump, [this](Message& m) { return WndProc(m); }) {
    setCentralWidget(new QWidget(this));
    setGeometry(defaultPlacement(context_.app.screenSize()));
    showDatabaseName({});
}

TMainForm::~TMainForm() = default;

void TMainForm::showDatabaseName(std::string_view databaseFileName) {
    const std::string title = mainFormTitle(databaseFileName);
    context_.app.setTitle(title);  // first: the desktop compares the caption with it
    setWindowTitle(QString::fromStdString(title));
}

void TMainForm::openByExtension(const std::string& name) {
    // Databases, imports and backups open here once the views that show them exist.
    logWarning("\"" + name + "\" is not opened: this version of the program opens no files");
}

intptr_t TMainForm::WndProc(Message& message) {
    switch (message.id) {
        case kMsgOtherInstance:
            otherInstance();
            return 0;
        default:
            return 0;
    }
}

void TMainForm::otherInstance() {
    Application::bringToFront(*this);
    // The later start waits for this handler before it removes the value again.
    const std::string path = readStartFile(context_.store);
    if (!path.empty()) openByExtension(path);
}

void TMainForm::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // The desktop's own showings (a restore from minimised) are not the program showing it.
    if (!event->spontaneous()) FormShow();
}

void TMainForm::FormShow() {
    if (!commandLine_.empty()) openByExtension(commandLine_);
}

}  // namespace qv
