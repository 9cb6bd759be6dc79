#include "dbfixture.h"

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <map>

#include "dbkeys.h"
#include "xbase/xbase.h"

namespace dbcheck {

Fixture::Fixture(int lenID_, int lenKey_, int lenChunk_)
    : lenID(lenID_), lenKey(lenKey_), lenChunk(lenChunk_) {}

uint32_t Fixture::chain(const std::string& text) {
    uint32_t number = nextChain_++;
    std::string stored = text;
    stored.push_back('\0');
    for (size_t at = 0, seq = 0; at < stored.size(); at += size_t(lenChunk), ++seq)
        chunks.push_back({number, uint32_t(seq), stored.substr(at, size_t(lenChunk)), false});
    return number;
}

std::string Fixture::textOf(uint32_t number) const {
    std::map<uint32_t, std::string> bySeq;
    for (const FixtureChunk& c : chunks)
        if (c.chain == number && !c.deleted) bySeq[c.seq] = c.bytes;
    std::string text;
    for (const auto& [seq, bytes] : bySeq) {
        size_t zero = bytes.find('\0');
        text += bytes.substr(0, zero);
        if (zero != std::string::npos) break;
    }
    return text;
}

std::string Fixture::keyOf(const std::string& text) const {
    return valueKey(KeyShape::of(lenKey), text, dayFirst);
}

uint32_t Fixture::value(uint32_t record, uint32_t type, uint32_t position, const std::string& text,
                        uint8_t flags) {
    uint32_t e = chain(text);
    rows.push_back({record, type, position, e, flags, false, keyOf(text)});
    return e;
}

void Fixture::link(uint32_t record, uint32_t type, uint32_t position, uint32_t e, uint8_t flags) {
    rows.push_back({record, type, position, e, flags, false, keyOf(textOf(e))});
}

void Fixture::freeRow() {
    rows.push_back({0, 0, 0, 0, 0x81, true, keyOf("")});
}

void Fixture::counter(uint32_t next) {
    value(51, 2, 1, std::to_string(next));
}

uint32_t Fixture::field(uint32_t id, const std::string& name) {
    return value(id, 1, 1, name);
}

void Fixture::set(uint32_t id, const std::string& name, const std::vector<uint32_t>& fieldNames) {
    value(id, 9, 1, name);
    for (size_t i = 0; i < fieldNames.size(); ++i) link(id, 1, uint32_t(i + 1), fieldNames[i]);
}

void Fixture::member(uint32_t record, uint32_t setID) {
    const FixtureRow* first = nullptr;
    for (const FixtureRow& r : rows)
        if (r.a == setID && r.b == 1 && (r.f & 0x80) && !r.deleted && (!first || r.c < first->c))
            first = &r;
    uint32_t fieldID = 0;
    for (const FixtureRow& r : rows)
        if (first && r.e == first->e && !(r.f & 0x80) && !r.deleted) fieldID = r.a;
    std::vector<uint32_t> values;
    for (const FixtureRow& r : rows)
        if (fieldID && r.a == record && r.b == fieldID && !(r.f & 0x40) && !r.deleted)
            values.push_back(r.e);
    if (values.empty()) {
        value(record, setID, 65024, "?", 0x41);
        return;
    }
    for (uint32_t e : values) link(record, setID, 65024, e, 0xC1);
}

namespace {

struct Column {
    std::string name;
    int width;
};

// A plain dBASE table (version 3) of character fields: header, descriptors, records, 0x1A.
bool writeTable(const std::string& path, const std::vector<Column>& columns,
                const std::vector<std::string>& records, std::string* error) {
    int width = 1;
    for (const Column& c : columns) width += c.width;
    const int header = 32 * int(columns.size() + 1) + 1;
    std::string out(32, '\0');
    out[0] = 3;
    out[1] = 126;  // 2026-01-01: a fixed date keeps fixtures byte-identical
    out[2] = 1;
    out[3] = 1;
    const uint32_t count = uint32_t(records.size());
    for (int i = 0; i < 4; ++i) out[size_t(4 + i)] = char(count >> (8 * i));
    out[8] = char(header & 255);
    out[9] = char(header >> 8);
    out[10] = char(width & 255);
    out[11] = char(width >> 8);
    for (const Column& c : columns) {
        std::string d(32, '\0');
        d.replace(0, c.name.size(), c.name);
        d[11] = 'C';
        d[16] = char(c.width);
        out += d;
    }
    out += '\r';
    for (const std::string& r : records) {
        if (int(r.size()) != width) {
            *error = path + ": a record of " + std::to_string(r.size()) + " bytes, not " +
                     std::to_string(width);
            return false;
        }
        out += r;
    }
    out += '\x1a';
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(out.data(), std::streamsize(out.size()));
    if (!file.flush()) {
        *error = path + ": cannot be written";
        return false;
    }
    return true;
}

std::string fit(std::string s, int width, char pad) {
    s.resize(size_t(width), pad);
    return s;
}

// Builds the index file of a written table with the library.
bool buildIndex(const std::string& table, const std::string& index, const tag4def* tags,
                std::string* error) {
    env4 env{};
    if (env4init(&env, env4version) != 0) {
        *error = "no environment";
        return false;
    }
    env.autoOpen = 0;
    env.accessMode = 1;
    env.safety = 0;
    bool ok = false;
    if (table4* t = table4open(&env, table.c_str())) {
        index4* ix = index4create(t, index.c_str(), tags);
        ok = ix != nullptr;
        if (table4close(t) != 0) ok = false;
    }
    if (!ok) *error = index + ": not built (" + std::to_string(env.errorCode) + ")";
    (void)error4setCode(&env, 0);  // the failure is reported through error
    if (env4release(&env) != 0) ok = false;
    return ok;
}

}  // namespace

bool Fixture::writeTables(const std::string& base) {
    std::vector<std::string> records;
    for (const FixtureRow& r : rows)
        records.push_back(std::string(1, r.deleted ? '*' : ' ') + digits(r.a, lenID) +
                          digits(r.b, lenID) + digits(r.c, 2) + fit(r.d, lenKey, 17) +
                          digits(r.e, 4) + std::string(1, char(r.f)));
    if (!writeTable(base + ".ZT",
                    {{"A", lenID}, {"B", lenID}, {"C", 2}, {"D", lenKey}, {"E", 4}, {"F", 1}},
                    records, &error))
        return false;
    records.clear();
    for (const FixtureChunk& c : chunks)
        records.push_back(std::string(1, c.deleted ? '*' : ' ') + digits(c.chain, 4) +
                          digits(c.seq, 2) + fit(c.bytes, lenChunk, '\0'));
    return writeTable(base + ".ZT2", {{"A", 4}, {"B", 2}, {chunkField, lenChunk}}, records, &error);
}

bool Fixture::write(const std::string& base) {
    static const tag4def rowTags[] = {{"ZTW1", "B+D+E+F", nullptr, 0, 0},
                                      {"ZTW2", "A+B+C+D", nullptr, 0, 0},
                                      {"ZTW3", "E+F", nullptr, 0, 0},
                                      {nullptr, nullptr, nullptr, 0, 0}};
    static const tag4def chunkTags[] = {{"ZTWC1", "A+B", nullptr, 0, 0},
                                        {nullptr, nullptr, nullptr, 0, 0}};
    return writeTables(base) && buildIndex(base + ".ZT", base + ".IX", rowTags, &error) &&
           buildIndex(base + ".ZT2", base + ".IX2", chunkTags, &error);
}

std::string fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

int64_t fileLength(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? int64_t(st.st_size) : -1;
}

bool setHeaderCount(const std::string& path, uint32_t count) {
    std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
    char bytes[4];
    for (int i = 0; i < 4; ++i) bytes[i] = char(count >> (8 * i));
    f.seekp(4);
    f.write(bytes, 4);
    return bool(f.flush());
}

bool setFileLength(const std::string& path, int64_t length) {
    return truncate(path.c_str(), off_t(length)) == 0;
}

}  // namespace dbcheck
