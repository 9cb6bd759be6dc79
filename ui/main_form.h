#pragma once
// The program's one main window. It is made once by the entry with the program's services,
// receives the private messages of the workers, the views and the single-instance handoff
// through its window procedure, and is the application's main form: closing it ends the
// program. The views, the status bar, the menus and the settings it keeps are built on it.
//
// Messages handled here:
//   0x8087  a later start of the program: the window comes to the front and opens the file
//           that start left as "StartFile" under \Software\Quorvane\6.0\Files, if any.

#include <QMainWindow>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform_qt/app_context.h"
#include "platform_qt/message.h"
#include "platform_qt/message_pump.h"

namespace qv {

// The main window's title: "Quorvane", and " - " with the file name of the active database
// when there is one.
std::string mainFormTitle(std::string_view databaseFileName);

class TMainForm : public QMainWindow {
  public:
    explicit TMainForm(AppContext& context);
    ~TMainForm() override;

    // The text the program was started with; the first showing of the window opens it.
    void setCommandLine(std::string commandLine) { commandLine_ = std::move(commandLine); }
    const std::string& commandLine() const { return commandLine_; }

    // Where messages for this window are posted and sent.
    ReceiverHandle handle() const { return receiver_.handle(); }

    // Titles the application and the window after the active database (empty: none).
    void showDatabaseName(std::string_view databaseFileName);

    // The open routine: opens, imports or restores one file by its extension.
    void openByExtension(const std::string& name);

  protected:
    // The window procedure: the result of a message, 0 for those it does not handle.
    intptr_t WndProc(Message& message);

    void showEvent(QShowEvent* event) override;

  private:
    void FormShow();
    void otherInstance();

    AppContext& context_;
    std::string commandLine_;
    MessageReceiver receiver_;
};

}  // namespace qv
