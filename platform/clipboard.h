#pragma once
// The clipboard as the engine sees it: formats are numbers (the predefined ones, such as 1 for
// plain text, and names registered from 0xC000 up, a name always getting the same number), each
// holding a block of bytes. It is opened by one owner at a time; writing and reading need it open,
// testing whether a format is present does not. The in-process implementation serves until the
// desktop installs its own; data read from a clipboard may come from another program, so readers
// check every length.

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace qv {

using ClipboardFormat = uint32_t;
constexpr ClipboardFormat kClipboardText = 1;
constexpr ClipboardFormat kFirstRegisteredFormat = 0xC000;

class Clipboard {
  public:
    virtual ~Clipboard() = default;

    // owner identifies the window or object that opens it. False while another owner has it
    // open.
    virtual bool open(const void* owner) = 0;
    virtual void close() = 0;
    // Removes every format. Needs the clipboard open.
    virtual bool empty() = 0;
    // The number of a named format (0 for a null or empty name).
    virtual ClipboardFormat registerFormat(const char* name) = 0;
    // Stores the bytes under the format, replacing what it held. Needs the clipboard open.
    virtual bool setData(ClipboardFormat format, std::vector<unsigned char> bytes) = 0;
    // Format 0 is never available.
    virtual bool isAvailable(ClipboardFormat format) = 0;
    // Copies the bytes of the format. Needs the clipboard open.
    virtual bool getData(ClipboardFormat format, std::vector<unsigned char>* out) = 0;
};

// Who has a clipboard open: one owner at a time, and the owner that has it may open it again.
// Not locked itself: the clipboard that holds it guards it with its own lock.
class ClipboardOwnership {
  public:
    bool open(const void* owner) {
        if (isOpen_ && owner_ != owner) return false;
        isOpen_ = true;
        owner_ = owner;
        return true;
    }
    void close() {
        isOpen_ = false;
        owner_ = nullptr;
    }
    bool isOpen() const { return isOpen_; }

  private:
    bool isOpen_ = false;
    const void* owner_ = nullptr;
};

// A clipboard inside this process, safe to use from several threads.
class InProcessClipboard : public Clipboard {
  public:
    bool open(const void* owner) override;
    void close() override;
    bool empty() override;
    ClipboardFormat registerFormat(const char* name) override;
    bool setData(ClipboardFormat format, std::vector<unsigned char> bytes) override;
    bool isAvailable(ClipboardFormat format) override;
    bool getData(ClipboardFormat format, std::vector<unsigned char>* out) override;

  private:
    std::mutex mutex_;
    ClipboardOwnership ownership_;
    std::map<ClipboardFormat, std::vector<unsigned char>> data_;
    std::map<std::string, ClipboardFormat> names_;
};

// The clipboard in force: the process's in-process one until another is installed.
Clipboard& clipboard();
// Installs a clipboard (null restores the in-process one); it must outlive its use.
void setClipboard(Clipboard* board);

}  // namespace qv
