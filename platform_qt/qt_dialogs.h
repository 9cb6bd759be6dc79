#pragma once
// The dialog service on Qt Widgets: each dialog is modal over the active window. Message texts
// are shown as plain text, never read as markup (they may hold names and values from data).

#include <QStringList>
#include <functional>

#include "platform_qt/dialogs.h"

class QMessageBox;
class QWidget;

namespace qv {

class QtDialogs : public DialogService {
  public:
    int messageBox(std::string_view text, std::string_view caption, unsigned flags) override;
    std::vector<std::string> openFiles(FileChooser& chooser) override;
    std::optional<std::string> saveFile(FileChooser& chooser) override;
    std::optional<StoredFont> chooseFont(const StoredFont& initial) override;
    std::optional<ColorWord> chooseColor(ColorWord initial) override;
    std::optional<std::string> promptText(std::string_view caption, std::string_view label,
                                          std::string_view initial) override;

    // Sets up a box for the flags: buttons, icon and default button.
    static void configureBox(QMessageBox& box, unsigned flags);
    // The answer for the button a box was closed with.
    static int answerOf(const QMessageBox& box, unsigned flags);
    // Qt's name filters for a chooser's filter string ("description (patterns)").
    static QStringList nameFilters(const std::string& filter);
};

}  // namespace qv
