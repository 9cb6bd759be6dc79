#pragma once
// The dialogs every window may show: message boxes, file choosers, font and colour choosers and
// a one-line text prompt. QtDialogs shows them; ScriptedDialogs answers them from a test's
// script. Texts are UTF-8. Used from the user-interface thread only.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform_qt/look.h"

namespace qv {

// Message-box flags: buttons, icon and default button, combined.
constexpr unsigned kBoxOk = 0x0;
constexpr unsigned kBoxOkCancel = 0x1;
constexpr unsigned kBoxYesNo = 0x4;
constexpr unsigned kBoxIconError = 0x10;
constexpr unsigned kBoxIconQuestion = 0x20;
constexpr unsigned kBoxIconWarning = 0x30;
constexpr unsigned kBoxIconInformation = 0x40;
constexpr unsigned kBoxDefaultSecond = 0x100;
constexpr unsigned kBoxButtonsMask = 0xF;
constexpr unsigned kBoxIconMask = 0xF0;

// The button pressed.
constexpr int kBoxResultOk = 1;
constexpr int kBoxResultCancel = 2;
constexpr int kBoxResultYes = 6;
constexpr int kBoxResultNo = 7;

// The answers a box with these flags offers (unknown button bits give an OK box), and the one
// closing it without a choice gives.
std::vector<int> boxAnswers(unsigned flags);
int boxDismissAnswer(unsigned flags);

// A file chooser's request; filterIndex also carries back the filter the user chose.
struct FileChooser {
    std::string title;
    // Pairs of description and patterns, all separated by '|', patterns by ';':
    // "Databases (*.zt)|*.zt|All files (*.*)|*.*".
    std::string filter;
    int filterIndex = 1;           // 1 is the first filter
    std::string path;              // the folder, or the file, the chooser starts at
    std::string defaultExtension;  // without the dot; added to a name typed without one
    bool multiple = false;         // open: several files may be chosen
};

// One filter of a chooser, ready for Linux: patterns in both letter cases ("*.zt" and "*.ZT",
// as names differ by case here), "*.*" as "*". A description without patterns (an odd number
// of parts) gets "*"; an empty filter string gives one "All files" filter.
struct FileFilter {
    std::string description;
    std::vector<std::string> patterns;
    bool operator==(const FileFilter&) const = default;
};
std::vector<FileFilter> parseFileFilter(std::string_view filter);

class DialogService {
  public:
    virtual ~DialogService() = default;

    // One of boxAnswers(flags).
    virtual int messageBox(std::string_view text, std::string_view caption, unsigned flags) = 0;
    // The chosen files, none when cancelled.
    virtual std::vector<std::string> openFiles(FileChooser& chooser) = 0;
    // The chosen name; a file of that name may exist (callers ask before they replace it).
    virtual std::optional<std::string> saveFile(FileChooser& chooser) = 0;
    // Installed fonts only.
    virtual std::optional<StoredFont> chooseFont(const StoredFont& initial) = 0;
    // Solid colours only.
    virtual std::optional<ColorWord> chooseColor(ColorWord initial) = 0;
    virtual std::optional<std::string> promptText(std::string_view caption, std::string_view label,
                                                  std::string_view initial) = 0;
};

}  // namespace qv
