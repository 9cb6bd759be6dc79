#pragma once
// The desktop's clipboard (QClipboard) behind the engine's clipboard interface.
//
// Plain text (format 1) is stored text outside the program's reach as UTF-8 text/plain: written
// from Windows-1252 bytes up to their terminating zero, read back as Windows-1252 bytes with a
// terminating zero. Text holding a character that Windows-1252 cannot hold is refused with an
// error box, not read with the character dropped. A registered format travels beside the text
// under a MIME type of its own (mimeTypeFor), its bytes wrapped in an envelope that carries their
// length and checksum, so that foreign data under that type with a wrong size or damaged bytes
// reads as not available. Other predefined formats are not kept.
//
// Everything written between open and close becomes one clipboard content when the clipboard is
// closed. The clipboard may be used from any thread: calls that reach the desktop run on the
// user-interface thread through the pump (and fail when it does not answer, as when closing).

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clipboard.h"
#include "platform_qt/message_pump.h"

namespace qv {

class QtClipboard : public Clipboard {
  public:
    // Made on the user-interface thread, after the QGuiApplication.
    explicit QtClipboard(MessagePump& pump);

    bool open(const void* owner) override;
    void close() override;
    bool empty() override;
    ClipboardFormat registerFormat(const char* name) override;
    bool setData(ClipboardFormat format, std::vector<unsigned char> bytes) override;
    bool isAvailable(ClipboardFormat format) override;
    bool getData(ClipboardFormat format, std::vector<unsigned char>* out) override;

    // The MIME type of a registered format name. Names differing in letter case are one format.
    static std::string mimeTypeFor(std::string_view name);
    // The envelope around a registered format's bytes, and its check: nothing when the data is
    // not a whole, undamaged envelope.
    static std::vector<unsigned char> wrap(const std::vector<unsigned char>& bytes);
    static std::optional<std::vector<unsigned char>> unwrap(std::string_view data);

  private:
    using Content = std::map<ClipboardFormat, std::vector<unsigned char>>;
    bool onUiThread(const std::function<void()>& fn);
    std::string mimeOf(ClipboardFormat format);  // empty when not registered
    bool read(ClipboardFormat format, std::vector<unsigned char>* out);

    MessagePump& pump_;
    std::mutex mutex_;
    ClipboardOwnership ownership_;
    bool writing_ = false;  // emptied in this session: close publishes pending_
    Content pending_;
    std::map<std::string, ClipboardFormat> formats_;  // by MIME type
};

}  // namespace qv
