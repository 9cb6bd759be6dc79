#pragma once
// Qt key events as the views expect them. A key press reaches a view's handlers in two steps,
// key first and character after: keyDown sees the key code (virtual key plus modifier bits) and
// keyPress then sees the character the key types, as a Windows-1252 byte, when it types one.
// Each step happens whatever the other answered, so a handler that wants a character swallowed
// after it handled the key notes that itself.

#include <QKeyEvent>
#include <functional>
#include <optional>

#include "platform_qt/key_codes.h"

namespace qv {

struct KeyStroke {
    KeyCode code = 0;                        // 0: a key without a number of ours
    std::optional<unsigned char> character;  // what the key types, if anything
};

KeyStroke keyStrokeOf(const QKeyEvent& event);

// Runs keyDown and then keyPress (when the key types a character). True when either handled
// its step: the widget's own handling of the event should then be skipped.
bool deliverKey(const QKeyEvent& event, const std::function<bool(KeyCode)>& keyDown,
                const std::function<bool(unsigned char)>& keyPress);

}  // namespace qv
