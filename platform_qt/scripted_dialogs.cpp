#include "platform_qt/scripted_dialogs.h"

#include <algorithm>

namespace qv {

namespace {

const char* nameOf(ScriptedDialogs::Kind kind) {
    switch (kind) {
        case ScriptedDialogs::Kind::MessageBox:
            return "message box";
        case ScriptedDialogs::Kind::OpenFiles:
            return "open-file chooser";
        case ScriptedDialogs::Kind::SaveFile:
            return "save-file chooser";
        case ScriptedDialogs::Kind::Font:
            return "font chooser";
        case ScriptedDialogs::Kind::Color:
            return "colour chooser";
        case ScriptedDialogs::Kind::Prompt:
            return "text prompt";
    }
    return "dialog";
}

std::string describe(const ScriptedDialogs::Shown& s) {
    std::string d = nameOf(s.kind);
    if (!s.caption.empty()) d += " \"" + s.caption + "\"";
    if (!s.text.empty()) d += ": \"" + s.text + "\"";
    if (s.kind == ScriptedDialogs::Kind::MessageBox)
        d += " (flags " + std::to_string(s.flags) + ")";
    return d;
}

}  // namespace

static ScriptedDialogs::Shown shownOf(ScriptedDialogs::Kind kind, std::string_view caption,
                                      std::string_view text = {}) {
    ScriptedDialogs::Shown s;
    s.kind = kind;
    s.caption = std::string(caption);
    s.text = std::string(text);
    return s;
}

ScriptedDialogs::ScriptedDialogs(FailureSink fail) : fail_(std::move(fail)) {}

ScriptedDialogs::~ScriptedDialogs() {
    for (size_t i = next_; i < script_.size(); ++i)
        fail_(std::string("expected ") + nameOf(script_[i].kind) + " never came" +
              (script_[i].text.empty() ? "" : ": \"" + script_[i].text + "\""));
}

ScriptedDialogs::Expected& ScriptedDialogs::add(Kind kind) {
    script_.emplace_back();
    script_.back().kind = kind;
    return script_.back();
}

void ScriptedDialogs::expectMessageBox(int answer, unsigned flags, std::string text,
                                       std::string caption) {
    const auto offered = boxAnswers(flags);
    if (std::find(offered.begin(), offered.end(), answer) == offered.end())
        fail_("script answers " + std::to_string(answer) + " to a box with flags " +
              std::to_string(flags) + ", which has no such button");
    Expected& e = add(Kind::MessageBox);
    e.caption = std::move(caption);
    e.text = std::move(text);
    e.flags = flags;
    e.answer = answer;
}

void ScriptedDialogs::expectOpenFiles(std::vector<std::string> paths, int filterIndex) {
    Expected& e = add(Kind::OpenFiles);
    e.paths = std::move(paths);
    e.filterIndex = filterIndex;
}

void ScriptedDialogs::expectSaveFile(std::optional<std::string> path, int filterIndex) {
    Expected& e = add(Kind::SaveFile);
    e.string = std::move(path);
    e.filterIndex = filterIndex;
}

void ScriptedDialogs::expectFont(std::optional<StoredFont> font) {
    add(Kind::Font).font = std::move(font);
}

void ScriptedDialogs::expectColor(std::optional<ColorWord> color) {
    add(Kind::Color).color = color;
}

void ScriptedDialogs::expectPrompt(std::optional<std::string> text, std::string caption) {
    Expected& e = add(Kind::Prompt);
    e.string = std::move(text);
    e.caption = std::move(caption);
}

const ScriptedDialogs::Expected* ScriptedDialogs::take(const Shown& shown) {
    shown_.push_back(shown);
    if (next_ == script_.size()) {
        fail_("unexpected " + describe(shown));
        return nullptr;
    }
    const Expected& e = script_[next_];
    std::string why;
    if (e.kind != shown.kind)
        why = std::string("expected a ") + nameOf(e.kind);
    else if (!e.caption.empty() && e.caption != shown.caption)
        why = "expected caption \"" + e.caption + "\"";
    else if (!e.text.empty() && e.text != shown.text)
        why = "expected text \"" + e.text + "\"";
    else if (e.kind == Kind::MessageBox && e.flags != shown.flags)
        why = "expected flags " + std::to_string(e.flags);
    ++next_;  // a dialog that does not match still takes its place in the script
    if (!why.empty()) {
        fail_("unexpected " + describe(shown) + "; " + why);
        return nullptr;
    }
    return &e;
}

int ScriptedDialogs::messageBox(std::string_view text, std::string_view caption, unsigned flags) {
    Shown shown = shownOf(Kind::MessageBox, caption, text);
    shown.flags = flags;
    const Expected* e = take(shown);
    return e ? e->answer : boxDismissAnswer(flags);
}

std::vector<std::string> ScriptedDialogs::openFiles(FileChooser& chooser) {
    Shown shown = shownOf(Kind::OpenFiles, chooser.title);
    shown.chooser = chooser;
    const Expected* e = take(shown);
    if (!e || e->paths.empty()) return {};
    chooser.filterIndex = e->filterIndex;
    return e->paths;
}

std::optional<std::string> ScriptedDialogs::saveFile(FileChooser& chooser) {
    Shown shown = shownOf(Kind::SaveFile, chooser.title);
    shown.chooser = chooser;
    const Expected* e = take(shown);
    if (!e || !e->string) return std::nullopt;
    chooser.filterIndex = e->filterIndex;
    return e->string;
}

std::optional<StoredFont> ScriptedDialogs::chooseFont(const StoredFont& initial) {
    Shown shown = shownOf(Kind::Font, {});
    shown.font = initial;
    const Expected* e = take(shown);
    return e ? e->font : std::nullopt;
}

std::optional<ColorWord> ScriptedDialogs::chooseColor(ColorWord initial) {
    Shown shown = shownOf(Kind::Color, {});
    shown.color = initial;
    const Expected* e = take(shown);
    return e ? e->color : std::nullopt;
}

std::optional<std::string> ScriptedDialogs::promptText(std::string_view caption,
                                                       std::string_view label, std::string_view) {
    const Expected* e = take(shownOf(Kind::Prompt, caption, label));
    return e ? e->string : std::nullopt;
}

}  // namespace qv
