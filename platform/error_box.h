#pragma once
// Where the engine's error boxes go. The desktop installs a sink that shows a modal message box
// with the error icon; until then (and in tests and batch runs) the text goes to standard error.

namespace qv {

// text is stored (Windows-1252) text.
using ErrorBoxSink = void (*)(const char* text);

void showErrorText(const char* text);

// Installs a sink (null restores the default) and returns the previous one.
ErrorBoxSink setErrorBoxSink(ErrorBoxSink sink);

}  // namespace qv
