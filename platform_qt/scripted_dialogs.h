#pragma once
// Dialogs answered from a script, for tests: the test queues the dialogs it expects, in order,
// with their answers. A dialog that comes when another (or none) was expected, or whose text,
// caption or flags differ from the expected ones, is reported to the failure sink (a test makes
// it a test failure) and answered as if dismissed; a dialog that does not match still uses up
// the expectation it was checked against. Expected dialogs that never came are reported when
// the script is destroyed.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform_qt/dialogs.h"

namespace qv {

class ScriptedDialogs : public DialogService {
  public:
    enum class Kind { MessageBox, OpenFiles, SaveFile, Font, Color, Prompt };
    // What a dialog showed, as the caller asked for it.
    struct Shown {
        Kind kind = Kind::MessageBox;
        std::string caption;  // box caption, chooser title or prompt caption
        std::string text;     // box text or prompt label
        unsigned flags = 0;
        FileChooser chooser;
        StoredFont font;      // a font chooser's initial font
        ColorWord color = 0;  // a colour chooser's initial colour
    };
    using FailureSink = std::function<void(const std::string& what)>;

    explicit ScriptedDialogs(FailureSink fail);
    ~ScriptedDialogs() override;

    // An empty text or caption matches any; flags always count.
    void expectMessageBox(int answer, unsigned flags, std::string text = {},
                          std::string caption = {});
    void expectOpenFiles(std::vector<std::string> paths, int filterIndex = 1);  // none: cancel
    void expectSaveFile(std::optional<std::string> path, int filterIndex = 1);
    void expectFont(std::optional<StoredFont> font);
    void expectColor(std::optional<ColorWord> color);
    void expectPrompt(std::optional<std::string> text, std::string caption = {});

    // Every expected dialog has come.
    bool done() const { return next_ == script_.size(); }
    const std::vector<Shown>& shown() const { return shown_; }

    int messageBox(std::string_view text, std::string_view caption, unsigned flags) override;
    std::vector<std::string> openFiles(FileChooser& chooser) override;
    std::optional<std::string> saveFile(FileChooser& chooser) override;
    std::optional<StoredFont> chooseFont(const StoredFont& initial) override;
    std::optional<ColorWord> chooseColor(ColorWord initial) override;
    std::optional<std::string> promptText(std::string_view caption, std::string_view label,
                                          std::string_view initial) override;

  private:
    struct Expected {
        Kind kind = Kind::MessageBox;
        std::string caption, text;
        unsigned flags = 0;
        int answer = 0;
        int filterIndex = 1;
        std::vector<std::string> paths;
        std::optional<std::string> string;
        std::optional<StoredFont> font;
        std::optional<ColorWord> color;
    };
    Expected& add(Kind kind);
    // The expectation this dialog meets, or null after reporting why it does not.
    const Expected* take(const Shown& shown);

    FailureSink fail_;
    std::vector<Expected> script_;
    size_t next_ = 0;
    std::vector<Shown> shown_;
};

}  // namespace qv
