#include "platform/registry.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <charconv>
#include <cstring>

#include "platform/atomic_file.h"
#include "platform/log.h"
#include "platform/ofd_lock.h"
#include "platform/user_folders.h"

namespace qv {

// The store file, read in parseStore and written in serializeStore only. One record a line,
// each line ending in '\n', fields separated by one space:
//
//   quorvane-registry 1             first line: what the file is, format version 1
//   key "<path>"                    a key: its full path, names joined by '\', root ""
//   str "<name>" "<bytes>"          a string value of the key above
//   int "<name>" <decimal>          a 32-bit signed integer value
//   bin "<name>" "<hex>"            a binary value, two lowercase hex digits a byte
//   end                             last line: the file is complete
//
// Inside quotes, bytes 0x20-0x7E stand for themselves except '"' and '%'; every other byte is
// '%' and two hex digits, so any byte string survives and the file stays readable. Keys are
// written in path order, a parent before its children; a key line with no value lines is an
// empty key. A reader stops at the first line that is not one of these and keeps what came
// before it.

namespace {

constexpr std::string_view kHeader = "quorvane-registry 1";

bool isControl(unsigned char c) {
    return c < 0x20 || c == 0x7F;
}

void appendQuoted(std::string& out, std::string_view bytes) {
    static const char hex[] = "0123456789ABCDEF";
    out += '"';
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c <= 0x7E && c != '"' && c != '%') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    out += '"';
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Takes a quoted token from the front of rest.
bool takeQuoted(std::string_view& rest, std::string* out) {
    out->clear();
    if (rest.empty() || rest[0] != '"') return false;
    std::size_t at = 1;
    while (at < rest.size() && rest[at] != '"') {
        unsigned char c = static_cast<unsigned char>(rest[at]);
        if (c == '%') {
            if (at + 2 >= rest.size()) return false;
            int high = hexDigit(rest[at + 1]), low = hexDigit(rest[at + 2]);
            if (high < 0 || low < 0) return false;
            *out += static_cast<char>(high * 16 + low);
            at += 3;
        } else if (isControl(c)) {
            return false;
        } else {
            *out += static_cast<char>(c);
            ++at;
        }
    }
    if (at >= rest.size()) return false;
    rest.remove_prefix(at + 1);
    return true;
}

bool takeWord(std::string_view& rest, std::string_view word) {
    if (rest.substr(0, word.size()) != word) return false;
    rest.remove_prefix(word.size());
    return true;
}

bool validName(std::string_view name, bool forKey) {
    if (forKey && name.empty()) return false;
    if (name.size() > kMaxRegNameBytes) return false;
    for (unsigned char c : name) {
        if (isControl(c) || (forKey && c == '\\')) return false;
    }
    return true;
}

bool validKeyPath(std::string_view path) {
    if (path.size() > kMaxRegPathBytes) return false;
    if (path.empty()) return true;
    std::size_t start = 0;
    for (;;) {
        std::size_t stop = path.find('\\', start);
        if (!validName(path.substr(start, stop - start), true)) return false;
        if (stop == std::string_view::npos) return true;
        start = stop + 1;
    }
}

// Adds the key and every missing parent.
RegistryStore::Values& makeKey(RegistryStore::Tree& tree, std::string_view path) {
    for (std::size_t at = path.find('\\'); at != std::string_view::npos;
         at = path.find('\\', at + 1)) {
        tree.try_emplace(std::string(path.substr(0, at)));
    }
    return tree.try_emplace(std::string(path)).first->second;
}

bool decodeHex(std::string_view hex, std::string* out) {
    out->clear();
    if (hex.size() % 2 != 0) return false;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        int high = hexDigit(hex[i]), low = hexDigit(hex[i + 1]);
        if (high < 0 || low < 0) return false;
        *out += static_cast<char>(high * 16 + low);
    }
    return true;
}

struct Parsed {
    RegistryStore::Tree tree;
    bool complete = false;
    std::size_t badLine = 0;  // 1-based; 0 when every line was read
    std::string problem;
};

// One value line ("str", "int" or "bin") into values; false when it is not valid.
bool parseValueLine(std::string_view line, RegistryStore::Values& values) {
    std::string_view kind = line.substr(0, 4);
    std::string_view rest = line.substr(kind.size());
    std::string name, text;
    if (!takeQuoted(rest, &name) || !validName(name, false) || !takeWord(rest, " ")) return false;
    RegValue value;
    if (kind == "str ") {
        if (!takeQuoted(rest, &text) || !rest.empty() || text.size() > kMaxRegValueBytes)
            return false;
        value.bytes = std::move(text);
    } else if (kind == "int ") {
        value.type = RegType::integer;
        if (rest.empty() || rest[0] == '+') return false;
        auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), value.number);
        if (error != std::errc() || end != rest.data() + rest.size()) return false;
    } else if (kind == "bin ") {
        value.type = RegType::binary;
        if (!takeQuoted(rest, &text) || !rest.empty() || !decodeHex(text, &value.bytes) ||
            value.bytes.size() > kMaxRegValueBytes)
            return false;
    } else {
        return false;
    }
    values[std::move(name)] = std::move(value);
    return true;
}

Parsed parseStore(std::string_view text) {
    Parsed parsed;
    parsed.tree.try_emplace("");
    RegistryStore::Values* current = nullptr;
    std::size_t lineNumber = 0;
    auto stop = [&](std::string problem) {
        parsed.badLine = lineNumber;
        parsed.problem = std::move(problem);
        return parsed;
    };
    while (!text.empty()) {
        ++lineNumber;
        std::size_t newline = text.find('\n');
        if (newline == std::string_view::npos) return stop("the last line is cut short");
        std::string_view line = text.substr(0, newline);
        text.remove_prefix(newline + 1);
        if (lineNumber == 1) {
            if (line != kHeader) return stop("not a settings file of this program");
            continue;
        }
        if (parsed.complete) return stop("text after the end line");
        if (line == "end") {
            parsed.complete = true;
            continue;
        }
        if (line.substr(0, 4) == "key ") {
            std::string_view rest = line.substr(4);
            std::string path;
            if (!takeQuoted(rest, &path) || !rest.empty() || !validKeyPath(path))
                return stop("a key line is not valid");
            current = &makeKey(parsed.tree, path);
            continue;
        }
        if (!current || !parseValueLine(line, *current)) return stop("a value line is not valid");
    }
    if (lineNumber == 0) {
        lineNumber = 1;
        return stop("the file is empty");
    }
    if (!parsed.complete) {
        ++lineNumber;
        return stop("the file ends before its end line");
    }
    return parsed;
}

std::string serializeStore(const RegistryStore::Tree& tree) {
    static const char hex[] = "0123456789abcdef";
    std::string out(kHeader);
    out += '\n';
    for (const auto& [path, values] : tree) {
        if (path.empty() && values.empty()) continue;
        out += "key ";
        appendQuoted(out, path);
        out += '\n';
        for (const auto& [name, value] : values) {
            switch (value.type) {
                case RegType::string:
                    out += "str ";
                    appendQuoted(out, name);
                    out += ' ';
                    appendQuoted(out, value.bytes);
                    break;
                case RegType::integer:
                    out += "int ";
                    appendQuoted(out, name);
                    out += ' ';
                    out += std::to_string(value.number);
                    break;
                case RegType::binary: {
                    out += "bin ";
                    appendQuoted(out, name);
                    out += " \"";
                    for (unsigned char c : value.bytes) {
                        out += hex[c >> 4];
                        out += hex[c & 15];
                    }
                    out += '"';
                    break;
                }
            }
            out += '\n';
        }
    }
    out += "end\n";
    return out;
}

bool sameTime(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

RegistryStore::FileIdentity identityOf(const struct stat& st) {
    RegistryStore::FileIdentity identity;
    identity.exists = true;
    identity.device = st.st_dev;
    identity.inode = st.st_ino;
    identity.size = st.st_size;
    identity.modified = st.st_mtim;
    identity.changed = st.st_ctim;
    return identity;
}

}  // namespace

const char* describe(RegResult result) {
    switch (result) {
        case RegResult::ok:
            return "ok";
        case RegResult::notFound:
            return "no such value";
        case RegResult::noKey:
            return "no such key";
        case RegResult::wrongType:
            return "the value has another type";
        case RegResult::badName:
            return "not a valid name";
        case RegResult::tooLong:
            return "name or value too long";
        case RegResult::readOnly:
            return "the key is open for reading only";
        case RegResult::failed:
            return "the settings file could not be written";
    }
    return "unknown";
}

bool RegistryStore::FileIdentity::operator==(const FileIdentity& other) const {
    if (exists != other.exists) return false;
    if (!exists) return true;
    return device == other.device && inode == other.inode && size == other.size &&
           sameTime(modified, other.modified) && sameTime(changed, other.changed);
}

RegistryStore::RegistryStore(std::string filePath) : path_(std::move(filePath)) {
    tree_.try_emplace("");
}

RegistryStore::~RegistryStore() {
    if (loadedFd_ >= 0) ::close(loadedFd_);
    if (lockFd_ >= 0) ::close(lockFd_);
}

std::string RegistryStore::defaultPath() {
    return configFolder() + "registry";
}

RegistryStore::Status RegistryStore::status() {
    std::lock_guard<std::mutex> lock(mutex_);
    refreshLocked();
    return status_;
}

std::string RegistryStore::lastError() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastError_;
}

RegResult RegistryStore::fail(std::string text) {
    lastError_ = std::move(text);
    logWarning(lastError_);
    return RegResult::failed;
}

void RegistryStore::refreshLocked() {
    if (path_.empty()) return;
    struct stat st {};
    FileIdentity now;
    if (::stat(path_.c_str(), &st) == 0) {
        now = identityOf(st);
    } else if (errno != ENOENT) {
        return;  // cannot look now: keep what we have
    }
    if (now == identity_) return;
    loadLocked(now);
}

void RegistryStore::loadLocked(const FileIdentity& now) {
    if (loadedFd_ >= 0) ::close(loadedFd_);
    loadedFd_ = -1;
    identity_ = FileIdentity{};
    tree_.clear();
    tree_.try_emplace("");
    status_ = Status{};

    int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return;  // no file yet: an empty store
        identity_ = now;              // reported once, not at every read
        status_ = {true, systemError("cannot read the settings file " + path_)};
        logWarning(status_.message);
        return;
    }
    struct stat st {};
    identity_ = ::fstat(fd, &st) == 0 ? identityOf(st) : now;
    loadedFd_ = fd;
    std::string text;
    ReadFileResult read = readAllBounded(fd, kMaxRegFileBytes, &text);
    if (read == ReadFileResult::failed) {
        status_ = {true, systemError("cannot read the settings file " + path_)};
        logWarning(status_.message);
        return;
    }
    Parsed parsed = parseStore(text);
    tree_ = std::move(parsed.tree);
    if (read == ReadFileResult::tooLarge) {
        status_ = {true, "the settings file " + path_ + " is larger than the program reads"};
    } else if (parsed.badLine != 0) {
        status_ = {true, "the settings file " + path_ + " is damaged at line " +
                             std::to_string(parsed.badLine) + " (" + parsed.problem + "); " +
                             (parsed.badLine == 1 ? "nothing in it is used"
                                                  : "what comes before is used")};
    }
    if (status_.damaged) {
        logWarning(status_.message + "; the file is kept beside it when settings are next saved");
    }
}

RegResult RegistryStore::read(const std::function<RegResult(const Tree&)>& body) {
    std::lock_guard<std::mutex> lock(mutex_);
    refreshLocked();
    return body(tree_);
}

bool RegistryStore::keepDamagedFileLocked(std::string* error) {
    // A hard link keeps the damaged bytes under another name without copying them; the
    // rename that follows then replaces only the original name.
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = path_ + ".damaged";
        if (attempt > 0) name += "." + std::to_string(attempt);
        if (::link(path_.c_str(), name.c_str()) == 0) {
            logWarning("the damaged settings file is kept as " + name);
            return true;
        }
        if (errno == ENOENT) return true;  // gone meanwhile: nothing to keep
        if (errno != EEXIST) break;
    }
    *error = systemError("cannot keep the damaged settings file " + path_ + " beside it");
    return false;
}

void RegistryStore::removeStaleTemporariesLocked() {
    // Temporaries are only ever made under the lock we hold, so any left now belong to a
    // writer that died before its rename.
    cleanedTemporaries_ = true;
    std::string folder = folderOf(path_);
    std::string base = path_.substr(folder.size()) + kTemporarySuffix;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return;
    while (dirent* entry = ::readdir(dir)) {
        std::string_view name = entry->d_name;
        if (name.size() == base.size() + 6 && name.substr(0, base.size()) == base) {
            ::unlinkat(::dirfd(dir), entry->d_name, 0);
        }
    }
    ::closedir(dir);
}

RegResult RegistryStore::write(const std::function<RegResult(Tree&)>& body) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (path_.empty()) {
        Tree changed = tree_;
        RegResult result = body(changed);
        if (result == RegResult::ok) tree_ = std::move(changed);
        return result;
    }
    std::string error;
    if (lockFd_ < 0) {
        if (!makeFolders(folderOf(path_), 0700, &error)) return fail(error);
        std::string lockPath = path_ + ".lock";
        lockFd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (lockFd_ < 0) return fail(systemError("cannot open " + lockPath));
    }
    if (!ofdLockWait(lockFd_, 0, 1, true)) return fail(systemError("cannot lock " + path_));
    struct Unlock {
        int fd;
        ~Unlock() { ofdUnlock(fd, 0, 1); }
    } unlock{lockFd_};

    if (!cleanedTemporaries_) removeStaleTemporariesLocked();
    refreshLocked();  // take in what other processes wrote before changing it
    Tree changed = tree_;
    RegResult result = body(changed);
    if (result != RegResult::ok) return result;

    std::string text = serializeStore(changed);
    bool keepDamaged = status_.damaged && identity_.exists;
    int newFd = -1;
    if (!replaceFileAtomically(
            path_, text, &error, [&] { return !keepDamaged || keepDamagedFileLocked(&error); },
            &newFd)) {
        return fail(error);
    }
    if (!error.empty()) logWarning(error);
    if (loadedFd_ >= 0) ::close(loadedFd_);
    loadedFd_ = newFd;
    struct stat st {};
    identity_ = ::fstat(newFd, &st) == 0 ? identityOf(st) : FileIdentity{};
    tree_ = std::move(changed);
    status_ = Status{};
    return RegResult::ok;
}

// ---------------------------------------------------------------------------------------------

RegResult Registry::resolve(std::string_view path, std::string* full) const {
    bool absolute = !path.empty() && path.front() == '\\';
    if (absolute) path.remove_prefix(1);
    if (!path.empty() && path.back() == '\\') path.remove_suffix(1);
    *full = absolute ? std::string() : current_;
    if (path.empty()) return RegResult::ok;
    std::size_t start = 0;
    for (;;) {
        std::size_t stop = path.find('\\', start);
        std::string_view name = path.substr(start, stop - start);
        if (name.size() > kMaxRegNameBytes) return RegResult::tooLong;
        if (!validName(name, true)) return RegResult::badName;
        if (!full->empty()) *full += '\\';
        full->append(name);
        if (full->size() > kMaxRegPathBytes) return RegResult::tooLong;
        if (stop == std::string_view::npos) return RegResult::ok;
        start = stop + 1;
    }
}

RegResult Registry::openKey(std::string_view path, bool create) {
    std::string full;
    if (RegResult r = resolve(path, &full); r != RegResult::ok) return r;
    RegResult result = store_.read([&](const RegistryStore::Tree& tree) {
        return tree.count(full) ? RegResult::ok : RegResult::noKey;
    });
    if (result == RegResult::noKey && create) {
        result = store_.write([&](RegistryStore::Tree& tree) {
            makeKey(tree, full);
            return RegResult::ok;
        });
    }
    if (result == RegResult::ok) {
        current_ = std::move(full);
        readOnly_ = false;
    }
    return result;
}

RegResult Registry::openKeyReadOnly(std::string_view path) {
    std::string full;
    if (RegResult r = resolve(path, &full); r != RegResult::ok) return r;
    RegResult result = store_.read([&](const RegistryStore::Tree& tree) {
        return tree.count(full) ? RegResult::ok : RegResult::noKey;
    });
    if (result == RegResult::ok) {
        current_ = std::move(full);
        readOnly_ = true;
    }
    return result;
}

void Registry::closeKey() {
    current_.clear();
    readOnly_ = false;
}

std::string Registry::currentKey() const {
    return "\\" + current_;
}

bool Registry::keyExists(std::string_view path) {
    std::string full;
    if (resolve(path, &full) != RegResult::ok) return false;
    return store_.read([&](const RegistryStore::Tree& tree) {
        return tree.count(full) ? RegResult::ok : RegResult::noKey;
    }) == RegResult::ok;
}

RegResult Registry::deleteKey(std::string_view path) {
    std::string full;
    if (RegResult r = resolve(path, &full); r != RegResult::ok) return r;
    if (full.empty()) return RegResult::badName;  // the root stays
    if (readOnly_) return RegResult::readOnly;
    return store_.write([&](RegistryStore::Tree& tree) {
        auto key = tree.find(full);
        if (key == tree.end()) return RegResult::noKey;
        tree.erase(key);
        // The keys below share the prefix "full\" and so stand together, though not
        // necessarily right after the key itself ("A\B2" sorts between "A\B" and "A\B\C").
        std::string below = full + '\\';
        auto first = tree.lower_bound(below);
        auto last = first;
        while (last != tree.end() && last->first.compare(0, below.size(), below) == 0) ++last;
        tree.erase(first, last);
        return RegResult::ok;
    });
}

RegResult Registry::getKeyNames(std::vector<std::string>* names) {
    names->clear();
    return store_.read([&](const RegistryStore::Tree& tree) {
        if (!tree.count(current_)) return RegResult::noKey;
        std::string below = current_.empty() ? std::string() : current_ + '\\';
        for (auto it = tree.lower_bound(below); it != tree.end(); ++it) {
            if (it->first.compare(0, below.size(), below) != 0) break;
            std::string_view rest = std::string_view(it->first).substr(below.size());
            if (!rest.empty() && rest.find('\\') == std::string_view::npos)
                names->emplace_back(rest);
        }
        return RegResult::ok;
    });
}

bool Registry::valueExists(std::string_view name) {
    return store_.read([&](const RegistryStore::Tree& tree) {
        auto key = tree.find(current_);
        if (key == tree.end()) return RegResult::noKey;
        return key->second.count(name) ? RegResult::ok : RegResult::notFound;
    }) == RegResult::ok;
}

RegResult Registry::deleteValue(std::string_view name) {
    if (readOnly_) return RegResult::readOnly;
    return store_.write([&](RegistryStore::Tree& tree) {
        auto key = tree.find(current_);
        if (key == tree.end()) return RegResult::noKey;
        auto value = key->second.find(name);
        if (value == key->second.end()) return RegResult::notFound;
        key->second.erase(value);
        return RegResult::ok;
    });
}

RegResult Registry::getValueNames(std::vector<std::string>* names) {
    names->clear();
    return store_.read([&](const RegistryStore::Tree& tree) {
        auto key = tree.find(current_);
        if (key == tree.end()) return RegResult::noKey;
        for (const auto& entry : key->second) names->push_back(entry.first);
        return RegResult::ok;
    });
}

RegResult Registry::readValue(std::string_view name, RegType type, RegValue* out) {
    return store_.read([&](const RegistryStore::Tree& tree) {
        auto key = tree.find(current_);
        if (key == tree.end()) return RegResult::noKey;
        auto value = key->second.find(name);
        if (value == key->second.end()) return RegResult::notFound;
        if (value->second.type != type) return RegResult::wrongType;
        *out = value->second;
        return RegResult::ok;
    });
}

RegResult Registry::writeValue(std::string_view name, RegValue value) {
    if (readOnly_) return RegResult::readOnly;
    if (name.size() > kMaxRegNameBytes || value.bytes.size() > kMaxRegValueBytes)
        return RegResult::tooLong;
    if (!validName(name, false)) return RegResult::badName;
    return store_.write([&](RegistryStore::Tree& tree) {
        auto key = tree.find(current_);
        if (key == tree.end()) return RegResult::noKey;
        key->second[std::string(name)] = std::move(value);
        return RegResult::ok;
    });
}

RegResult Registry::readString(std::string_view name, std::string* out) {
    RegValue value;
    RegResult result = readValue(name, RegType::string, &value);
    if (result == RegResult::ok) *out = std::move(value.bytes);
    return result;
}

RegResult Registry::writeString(std::string_view name, std::string_view value) {
    if (value.size() > kMaxRegValueBytes) return RegResult::tooLong;
    return writeValue(name, RegValue{RegType::string, std::string(value), 0});
}

RegResult Registry::readInteger(std::string_view name, int32_t* out) {
    RegValue value;
    RegResult result = readValue(name, RegType::integer, &value);
    if (result == RegResult::ok) *out = value.number;
    return result;
}

RegResult Registry::writeInteger(std::string_view name, int32_t value) {
    return writeValue(name, RegValue{RegType::integer, {}, value});
}

RegResult Registry::readBool(std::string_view name, bool* out) {
    int32_t number = 0;
    RegResult result = readInteger(name, &number);
    if (result == RegResult::ok) *out = number != 0;
    return result;
}

RegResult Registry::writeBool(std::string_view name, bool value) {
    return writeInteger(name, value ? 1 : 0);
}

RegResult Registry::readBinary(std::string_view name, std::vector<unsigned char>* out) {
    RegValue value;
    RegResult result = readValue(name, RegType::binary, &value);
    if (result == RegResult::ok) out->assign(value.bytes.begin(), value.bytes.end());
    return result;
}

RegResult Registry::writeBinary(std::string_view name, std::span<const unsigned char> value) {
    if (value.size() > kMaxRegValueBytes) return RegResult::tooLong;
    return writeValue(name, RegValue{RegType::binary, std::string(value.begin(), value.end()), 0});
}

RegResult Registry::readFloat(std::string_view name, double* out) {
    RegValue value;
    RegResult result = readValue(name, RegType::binary, &value);
    if (result != RegResult::ok) return result;
    if (value.bytes.size() != 8) return RegResult::wrongType;
    uint64_t bits = 0;
    for (int i = 7; i >= 0; --i) bits = bits << 8 | static_cast<unsigned char>(value.bytes[i]);
    *out = std::bit_cast<double>(bits);
    return RegResult::ok;
}

RegResult Registry::writeFloat(std::string_view name, double value) {
    uint64_t bits = std::bit_cast<uint64_t>(value);
    std::string bytes(8, '\0');
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<char>(bits >> (8 * i));
    return writeValue(name, RegValue{RegType::binary, std::move(bytes), 0});
}

}  // namespace qv
