#include "platform_qt/qt_clipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QString>
#include <array>
#include <cstdio>

#include "platform/ansi_text.h"
#include "platform/error_box.h"

namespace qv {

namespace {

// Envelope of a registered format's bytes on the desktop clipboard (integers little-endian):
//   offset  size  field
//   0       4     "QVcb"
//   4       4     n, the length of the bytes
//   8       4     CRC-32 (the zip polynomial) of the bytes
//   12      n     the bytes
constexpr char kMagic[4] = {'Q', 'V', 'c', 'b'};
constexpr size_t kHeader = 12;

uint32_t crc32(const unsigned char* p, size_t n) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) c = table[(c ^ p[i]) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

void putU32(std::vector<unsigned char>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

uint32_t getU32(const unsigned char* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

QClipboard* desktop() {
    return QGuiApplication::clipboard();
}

// Stored text as the desktop's text: the bytes up to the first zero.
QString textOf(const std::vector<unsigned char>& bytes) {
    std::string_view ansi(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    ansi = ansi.substr(0, ansi.find('\0'));
    const std::string utf8 = ansiToUtf8(ansi);
    return QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
}

// The desktop's text as stored text with its terminating zero; nothing, after an error box,
// when a character has no place in the code page.
std::optional<std::vector<unsigned char>> storedText(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    size_t bad = 0;
    auto ansi = utf8ToAnsi(std::string_view(utf8.constData(), size_t(utf8.size())), &bad);
    if (!ansi) {
        const QList<uint> cp = QString::fromUtf8(utf8.constData() + bad).toUcs4();
        char line[160];
        std::snprintf(line, sizeof line,
                      "The text on the clipboard holds a character that cannot be stored "
                      "(U+%04X); nothing was read.",
                      cp.isEmpty() ? 0u : cp.front());
        showErrorText(line);
        return std::nullopt;
    }
    std::vector<unsigned char> out(ansi->begin(), ansi->end());
    out.push_back(0);
    return out;
}

}  // namespace

QtClipboard::QtClipboard(MessagePump& pump) : pump_(pump) {}

std::string QtClipboard::mimeTypeFor(std::string_view name) {
    // Letters and digits as they are (lower case), every other byte as %XX: two names never
    // share a type, and the type is a valid MIME token.
    std::string type = "application/x-qv-";
    for (unsigned char c : name) {
        if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c - 'A' + 'a');
        if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_') {
            type += char(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            type += hex;
        }
    }
    return type;
}

std::vector<unsigned char> QtClipboard::wrap(const std::vector<unsigned char>& bytes) {
    std::vector<unsigned char> out(kMagic, kMagic + 4);
    putU32(out, uint32_t(bytes.size()));
    putU32(out, crc32(bytes.data(), bytes.size()));
    out.insert(out.end(), bytes.begin(), bytes.end());
    return out;
}

std::optional<std::vector<unsigned char>> QtClipboard::unwrap(std::string_view data) {
    if (data.size() < kHeader || data.substr(0, 4) != std::string_view(kMagic, 4))
        return std::nullopt;
    const auto* p = reinterpret_cast<const unsigned char*>(data.data());
    const uint32_t n = getU32(p + 4);
    if (data.size() - kHeader != n || crc32(p + kHeader, n) != getU32(p + 8)) return std::nullopt;
    return std::vector<unsigned char>(p + kHeader, p + kHeader + n);
}

bool QtClipboard::onUiThread(const std::function<void()>& fn) {
    if (pump_.isUiThread()) {
        fn();
        return true;
    }
    return pump_.invoke(fn);
}

bool QtClipboard::open(const void* owner) {
    std::lock_guard<std::mutex> lock(mutex_);
    return ownership_.open(owner);
}

void QtClipboard::close() {
    Content content;
    bool publish;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        publish = ownership_.isOpen() && writing_;
        content.swap(pending_);
        writing_ = false;
        ownership_.close();
    }
    if (!publish) return;
    std::map<ClipboardFormat, std::string> types;
    for (const auto& entry : content)
        if (entry.first != kClipboardText) types[entry.first] = mimeOf(entry.first);
    onUiThread([&] {
        auto* mime = new QMimeData;  // the desktop clipboard takes it
        for (const auto& [format, bytes] : content) {
            if (format == kClipboardText) {
                mime->setText(textOf(bytes));
            } else {
                const auto wrapped = wrap(bytes);
                mime->setData(QString::fromStdString(types[format]),
                              QByteArray(reinterpret_cast<const char*>(wrapped.data()),
                                         qsizetype(wrapped.size())));
            }
        }
        desktop()->setMimeData(mime);
    });
}

bool QtClipboard::empty() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!ownership_.isOpen()) return false;
    pending_.clear();
    writing_ = true;
    return true;
}

ClipboardFormat QtClipboard::registerFormat(const char* name) {
    if (!name || !*name) return 0;
    const std::string type = mimeTypeFor(name);
    std::lock_guard<std::mutex> lock(mutex_);
    auto [it, added] = formats_.try_emplace(type, ClipboardFormat(0));
    if (added) it->second = kFirstRegisteredFormat + ClipboardFormat(formats_.size() - 1);
    return it->second;
}

std::string QtClipboard::mimeOf(ClipboardFormat format) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [type, number] : formats_)
        if (number == format) return type;
    return {};
}

bool QtClipboard::setData(ClipboardFormat format, std::vector<unsigned char> bytes) {
    if (format != kClipboardText && mimeOf(format).empty()) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!ownership_.isOpen() || !writing_) return false;
    pending_[format] = std::move(bytes);
    return true;
}

bool QtClipboard::read(ClipboardFormat format, std::vector<unsigned char>* out) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (writing_) {  // our own session: what it wrote so far
            auto it = pending_.find(format);
            if (it == pending_.end()) return false;
            if (out) *out = it->second;
            return true;
        }
    }
    const std::string type = format == kClipboardText ? std::string() : mimeOf(format);
    if (format != kClipboardText && type.empty()) return false;
    bool found = false;
    onUiThread([&] {
        const QMimeData* mime = desktop()->mimeData();
        if (!mime) return;
        if (format == kClipboardText) {
            if (!mime->hasText()) return;
            if (!out) {
                found = true;
                return;
            }
            if (auto text = storedText(mime->text())) {
                *out = std::move(*text);
                found = true;
            }
            return;
        }
        const QByteArray data = mime->data(QString::fromStdString(type));
        auto bytes = unwrap(std::string_view(data.constData(), size_t(data.size())));
        if (!bytes) return;
        if (out) *out = std::move(*bytes);
        found = true;
    });
    return found;
}

bool QtClipboard::isAvailable(ClipboardFormat format) {
    return format != 0 && read(format, nullptr);
}

bool QtClipboard::getData(ClipboardFormat format, std::vector<unsigned char>* out) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!ownership_.isOpen()) return false;
    }
    return format != 0 && read(format, out);
}

}  // namespace qv
