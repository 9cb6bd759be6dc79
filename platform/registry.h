#pragma once
// The per-user settings store: a tree of keys under a root, each key holding named values of
// three types (string, 32-bit integer, binary), kept in one text file in the config folder.
//
// Key paths join names with '\' and nothing else: "\Software\Quorvane\6.0\Files" is absolute,
// "Files\C|/data/x.zt" is relative to the accessor's open key. A name may hold any byte from
// 0x20 up except '\' ('/', ':' and '|' included, so converted database paths are key names);
// control characters, empty names and names over kMaxRegNameBytes are refused. Names are
// compared byte for byte (case counts, as it does in the paths they carry).
//
// Every write reaches the disk before it returns, atomically, under a lock shared by every
// process of the user, after taking in what other processes wrote; every read first looks at
// the file again and reloads it when another process has replaced it. So a value written here
// ("Validity" false before risky work) is on disk and visible to everyone at once.
//
// A damaged or foreign file is read as far as it is valid, reported (logWarning and status()),
// and kept: the next write that succeeds first links it to "<file>.damaged" beside it. A failed
// write leaves both the file and this process's view of it unchanged.

#include <sys/types.h>
#include <time.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

enum class RegResult {
    ok,
    notFound,   // no value of that name
    noKey,      // the key does not exist (or no longer does)
    wrongType,  // the value exists with another type
    badName,    // empty name, control character, or the root where a key is needed
    tooLong,    // a name or value over its limit
    readOnly,   // a write through a key opened read-only
    failed,     // the file could not be written (RegistryStore::lastError says why)
};

const char* describe(RegResult result);

constexpr std::size_t kMaxRegNameBytes = 4096;
constexpr std::size_t kMaxRegPathBytes = 65536;
constexpr std::size_t kMaxRegValueBytes = std::size_t{1} << 20;
constexpr std::size_t kMaxRegFileBytes = std::size_t{64} << 20;

enum class RegType { string, integer, binary };

struct RegValue {
    RegType type = RegType::string;
    std::string bytes;   // string and binary values
    int32_t number = 0;  // integer values
    bool operator==(const RegValue&) const = default;
};

class RegistryStore {
  public:
    // The store kept in filePath (created with its folder at the first write). An empty path
    // keeps the store in memory only, for tests of code that reads and writes settings.
    explicit RegistryStore(std::string filePath);
    ~RegistryStore();
    RegistryStore(const RegistryStore&) = delete;
    RegistryStore& operator=(const RegistryStore&) = delete;

    // configFolder() + "registry".
    static std::string defaultPath();

    const std::string& path() const { return path_; }

    struct Status {
        bool damaged = false;  // the file stopped being valid before its end
        std::string message;   // where and why, empty when sound
    };
    // The state of the file as it is now on disk.
    Status status();

    // Why the last failed write failed.
    std::string lastError();

    struct FileIdentity {
        bool exists = false;
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        timespec modified{};
        timespec changed{};
        bool operator==(const FileIdentity& other) const;
    };

    using Values = std::map<std::string, RegValue, std::less<>>;
    // Every key by its full path (names joined by '\', the root is ""), parents included.
    using Tree = std::map<std::string, Values, std::less<>>;

  private:
    friend class Registry;

    RegResult read(const std::function<RegResult(const Tree&)>& body);
    // body changes a copy of the tree; only when it returns ok is the copy written and kept.
    RegResult write(const std::function<RegResult(Tree&)>& body);

    void refreshLocked();
    void loadLocked(const FileIdentity& now);
    bool keepDamagedFileLocked(std::string* error);
    void removeStaleTemporariesLocked();
    RegResult fail(std::string text);

    std::string path_;
    std::mutex mutex_;
    Tree tree_;
    FileIdentity identity_;
    int loadedFd_ = -1;  // held open so that the inode we compare with cannot be reused
    int lockFd_ = -1;
    Status status_;
    std::string lastError_;
    bool cleanedTemporaries_ = false;
};

// An accessor: an open key (the root at first) through which values are read and written.
// Cheap to make; one per user of the store, not shared between threads.
class Registry {
  public:
    explicit Registry(RegistryStore& store) : store_(store) {}

    // Opens the key, creating it and its missing parents when create is set.
    [[nodiscard]] RegResult openKey(std::string_view path, bool create);
    // Opens an existing key for reading only: writes through it give readOnly.
    [[nodiscard]] RegResult openKeyReadOnly(std::string_view path);
    // Back to the root, writable.
    void closeKey();
    // The open key's absolute path ("\" for the root).
    std::string currentKey() const;

    bool keyExists(std::string_view path);
    // Deletes the key with everything below it.
    [[nodiscard]] RegResult deleteKey(std::string_view path);
    [[nodiscard]] RegResult getKeyNames(std::vector<std::string>* names);

    bool valueExists(std::string_view name);
    [[nodiscard]] RegResult deleteValue(std::string_view name);
    [[nodiscard]] RegResult getValueNames(std::vector<std::string>* names);

    [[nodiscard]] RegResult readString(std::string_view name, std::string* out);
    [[nodiscard]] RegResult writeString(std::string_view name, std::string_view value);
    [[nodiscard]] RegResult readInteger(std::string_view name, int32_t* out);
    [[nodiscard]] RegResult writeInteger(std::string_view name, int32_t value);
    // Booleans are integers: written as 0 or 1, read as "not 0".
    [[nodiscard]] RegResult readBool(std::string_view name, bool* out);
    [[nodiscard]] RegResult writeBool(std::string_view name, bool value);
    [[nodiscard]] RegResult readBinary(std::string_view name, std::vector<unsigned char>* out);
    [[nodiscard]] RegResult writeBinary(std::string_view name,
                                        std::span<const unsigned char> value);
    // A double as 8 binary bytes, little-endian.
    [[nodiscard]] RegResult readFloat(std::string_view name, double* out);
    [[nodiscard]] RegResult writeFloat(std::string_view name, double value);

  private:
    RegResult resolve(std::string_view path, std::string* full) const;
    RegResult readValue(std::string_view name, RegType type, RegValue* out);
    RegResult writeValue(std::string_view name, RegValue value);

    RegistryStore& store_;
    std::string current_;  // full path of the open key, "" for the root
    bool readOnly_ = false;
};

}  // namespace qv
