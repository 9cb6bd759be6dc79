#include "platform_qt/qt_dialogs.h"

#include <QApplication>
#include <QColorDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>

#include "platform_qt/qt_look.h"

namespace qv {

namespace {

QString qs(std::string_view s) {
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

QWidget* parentWindow() {
    return QApplication::activeWindow();
}

QMessageBox::StandardButton buttonFor(int answer) {
    switch (answer) {
        case kBoxResultCancel:
            return QMessageBox::Cancel;
        case kBoxResultYes:
            return QMessageBox::Yes;
        case kBoxResultNo:
            return QMessageBox::No;
        default:
            return QMessageBox::Ok;
    }
}

// Sets the chooser up for the request: filters, the filter shown first, start path, extension.
void prepare(QFileDialog& dialog, const FileChooser& chooser, const QStringList& filters) {
    dialog.setOption(QFileDialog::HideNameFilterDetails);  // descriptions name their patterns
    dialog.setNameFilters(filters);
    const int index = chooser.filterIndex >= 1 && chooser.filterIndex <= filters.size()
                          ? chooser.filterIndex - 1
                          : 0;
    dialog.selectNameFilter(filters[index]);
    if (!chooser.defaultExtension.empty()) dialog.setDefaultSuffix(qs(chooser.defaultExtension));
    if (!chooser.path.empty()) {
        const QFileInfo start(qs(chooser.path));
        if (start.isDir()) {
            dialog.setDirectory(start.filePath());
        } else {
            dialog.setDirectory(start.absolutePath());
            dialog.selectFile(start.fileName());
        }
    }
}

// The chooser shows and reports each filter by its description alone.
void takeFilterIndex(const QFileDialog& dialog, FileChooser& chooser) {
    const QString chosen = dialog.selectedNameFilter().trimmed();
    const std::vector<FileFilter> filters = parseFileFilter(chooser.filter);
    for (size_t i = 0; i < filters.size(); ++i)
        if (qs(filters[i].description).trimmed() == chosen) chooser.filterIndex = int(i) + 1;
}

}  // namespace

void QtDialogs::configureBox(QMessageBox& box, unsigned flags) {
    box.setTextFormat(Qt::PlainText);
    switch (flags & kBoxIconMask) {
        case kBoxIconError:
            box.setIcon(QMessageBox::Critical);
            break;
        case kBoxIconQuestion:
            box.setIcon(QMessageBox::Question);
            break;
        case kBoxIconWarning:
            box.setIcon(QMessageBox::Warning);
            break;
        case kBoxIconInformation:
            box.setIcon(QMessageBox::Information);
            break;
        default:
            box.setIcon(QMessageBox::NoIcon);
    }
    const std::vector<int> answers = boxAnswers(flags);
    QMessageBox::StandardButtons buttons;
    for (int a : answers) buttons |= buttonFor(a);
    box.setStandardButtons(buttons);
    const size_t first = (flags & kBoxDefaultSecond) && answers.size() > 1 ? 1 : 0;
    box.setDefaultButton(buttonFor(answers[first]));
    box.setEscapeButton(buttonFor(answers.back()));
}

int QtDialogs::answerOf(const QMessageBox& box, unsigned flags) {
    const auto* clicked = box.clickedButton();
    for (int a : boxAnswers(flags))
        if (clicked && clicked == box.button(buttonFor(a))) return a;
    return boxDismissAnswer(flags);
}

QStringList QtDialogs::nameFilters(const std::string& filter) {
    QStringList filters;
    for (const FileFilter& f : parseFileFilter(filter)) {
        QStringList patterns;
        for (const std::string& p : f.patterns) patterns << qs(p);
        filters << qs(f.description) + " (" + patterns.join(' ') + ")";
    }
    return filters;
}

int QtDialogs::messageBox(std::string_view text, std::string_view caption, unsigned flags) {
    QMessageBox box(parentWindow());
    box.setWindowTitle(qs(caption));
    box.setText(qs(text));
    configureBox(box, flags);
    box.exec();
    return answerOf(box, flags);
}

std::vector<std::string> QtDialogs::openFiles(FileChooser& chooser) {
    const QStringList filters = nameFilters(chooser.filter);
    QFileDialog dialog(parentWindow(), qs(chooser.title));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(chooser.multiple ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    prepare(dialog, chooser, filters);
    if (dialog.exec() != QDialog::Accepted) return {};
    takeFilterIndex(dialog, chooser);
    std::vector<std::string> paths;
    for (const QString& f : dialog.selectedFiles()) paths.push_back(f.toStdString());
    return paths;
}

std::optional<std::string> QtDialogs::saveFile(FileChooser& chooser) {
    const QStringList filters = nameFilters(chooser.filter);
    QFileDialog dialog(parentWindow(), qs(chooser.title));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);  // the callers ask themselves
    prepare(dialog, chooser, filters);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    takeFilterIndex(dialog, chooser);
    return dialog.selectedFiles().front().toStdString();
}

std::optional<StoredFont> QtDialogs::chooseFont(const StoredFont& initial) {
    QFontDialog dialog(fontFromStored(initial), parentWindow());
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return storedFromFont(dialog.selectedFont());
}

std::optional<ColorWord> QtDialogs::chooseColor(ColorWord initial) {
    QColorDialog dialog(colorFromWord(initial), parentWindow());
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return wordFromColor(dialog.selectedColor());
}

std::optional<std::string> QtDialogs::promptText(std::string_view caption, std::string_view label,
                                                 std::string_view initial) {
    QInputDialog dialog(parentWindow());
    dialog.setInputMode(QInputDialog::TextInput);
    dialog.setWindowTitle(qs(caption));
    dialog.setLabelText(qs(label));
    dialog.setTextValue(qs(initial));
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.textValue().toStdString();
}

}  // namespace qv
