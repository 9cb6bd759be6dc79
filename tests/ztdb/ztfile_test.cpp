// The database file: its layout on disk, naming, opening in each mode, the record-count check
// and repair, duplicates, the dictionary version, pack and rebuilding the indexes.
#include "ztdb/ztfile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <string>

#include "ztdb/ztnames.h"
#include "ztfile_helpers.h"

namespace {

TEST(ZTFileCreate, WritesTheLayoutTheCheckerReads) {
    TempDir dir;
    std::string base = createDatabase(dir);
    for (const char* ext : kDatabaseExtensions)
        EXPECT_EQ(access((base + "." + ext).c_str(), F_OK), 0) << ext;
    dbcheck::Report r = checkFiles(base);
    EXPECT_TRUE(r.sound()) << r.text();
    const dbcheck::Layout& l = r.layout;
    EXPECT_EQ(l.rows.headerLength, 225);
    EXPECT_EQ(l.rows.recordWidth, 44);
    const int widths[6] = {3, 3, 2, 30, 4, 1}, offsets[6] = {1, 4, 7, 9, 39, 43};
    ASSERT_EQ(l.rows.fields.size(), 6u);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(l.rows.fields[size_t(i)].name, std::string(1, char('A' + i)));
        EXPECT_EQ(l.rows.fields[size_t(i)].length, widths[i]);
        EXPECT_EQ(l.rows.fields[size_t(i)].offset, offsets[i]);
    }
    EXPECT_EQ(l.dictionary.headerLength, 129);
    EXPECT_EQ(l.dictionary.recordWidth, 37);
    EXPECT_EQ(dbcheck::fileBytes(base + ".ZT2").substr(96, 5), std::string("C600\0", 5));
    ASSERT_EQ(l.rowTags.size(), 3u);
    EXPECT_EQ(l.rowTags[0].keyLength, 38);
    EXPECT_EQ(l.rowTags[1].keyLength, 38);
    EXPECT_EQ(l.rowTags[2].keyLength, 5);
    ASSERT_EQ(l.dictionaryTags.size(), 1u);
    EXPECT_EQ(l.dictionaryTags[0].name, "ZTWC1");
    EXPECT_EQ(l.dictionaryTags[0].keyLength, 6);

    // index_dump reads the same tags, and a row appended through the database gives each tag
    // one key of its length.
    if (access("/usr/bin/index_dump", X_OK) != 0) GTEST_SKIP() << "index_dump is not installed";
    {
        ZTFile file(base.c_str());
        ASSERT_EQ(file.open(3, false), 3u);  // no check at open: no counter row
        ASSERT_TRUE(appendRow(file, 1001));
    }
    std::string copy = dir.file("copy.cdx");
    ASSERT_EQ(std::system(("cp '" + base + ".IX' '" + copy + "'").c_str()), 0);
    auto dump = [&](const std::string& tag) {
        std::string out;
        FILE* p =
            popen(("/usr/bin/index_dump -type=char '" + copy + "' " + tag + " 2>&1").c_str(), "r");
        for (int c; p != nullptr && (c = std::fgetc(p)) != EOF;) out += char(c);
        if (p != nullptr) pclose(p);
        return out;
    };
    EXPECT_EQ(dump(""), "ZTW1\nZTW2\nZTW3\n");
    for (auto [tag, length] : {std::pair{"ZTW1", 38}, {"ZTW2", 38}, {"ZTW3", 5}}) {
        std::string line = dump(tag);
        ASSERT_EQ(line.substr(line.size() - 3), " 1\n") << tag;
        EXPECT_EQ(line.size() - 3, size_t(length)) << tag;
    }
}

TEST(ZTFileCreate, NeverReplacesATableAndLeavesNothingWhenItFails) {
    TempDir dir;
    std::string base = dir.file("db");
    {
        std::FILE* f = std::fopen((base + ".zt2").c_str(), "w");  // another letter case
        std::fputs("keep me", f);
        std::fclose(f);
    }
    ZTFile file(base.c_str());
    EXPECT_FALSE(file.create(3, 30, 30));
    EXPECT_EQ(dir.entries().size(), 1u);
    EXPECT_EQ(dbcheck::fileBytes(base + ".zt2"), "keep me");
    std::remove((base + ".zt2").c_str());

    // A full disk at each write in turn: success, or no file at all.
    int failures = 0;
    for (int nth = 1; nth < 200; ++nth) {
        file4failWrite(0, nth);
        bool made = file.create(3, 30, 30);
        file4failWrite(0, 0);
        if (made) break;
        ++failures;
        ASSERT_TRUE(dir.entries().empty()) << "write " << nth << " left " << dir.entries()[0];
    }
    EXPECT_GT(failures, 3);
    EXPECT_TRUE(checkFiles(base).sound());
}

TEST(ZTFileNames, BaseNameFolderTitleAndFileID) {
    TempDir dir;
    ASSERT_EQ(mkdir(dir.file("sub").c_str(), 0755), 0);
    ASSERT_EQ(symlink(dir.file("sub").c_str(), dir.file("link").c_str()), 0);
    struct Case {
        std::string given, base;
    } cases[] = {
        {dir.file("Data.Old.ZT"), dir.file("Data")},
        {dir.file(".hidden.ZT"), dir.file(".hidden")},
        {dir.file("db.zt2"), dir.file("db")},
        {dir.file("db"), dir.file("db")},
        {dir.file("sub/../sub/Db.IX"), dir.file("sub/Db")},
        {dir.file("link/Db.ZT"), dir.file("sub/Db")},
        {dir.file("missing/../db.ZT"), dir.file("db")},
    };
    char* real = realpath(dir.path().c_str(), nullptr);
    std::string realDir = real;
    free(real);
    for (const Case& c : cases) {
        ZTFile f(c.given.c_str());
        std::string expected = realDir + c.base.substr(dir.path().size());
        EXPECT_EQ(std::string(f.getFullPath()), expected) << c.given;
        EXPECT_EQ(f.getFileID(), hashString(expected.c_str())) << c.given;
    }
    ZTFile f(dir.file("sub/Db.ZT").c_str());
    EXPECT_STREQ(f.getTitle(), "Db");
    ZTStr folder;
    EXPECT_STREQ(f.getFolder(&folder)->text, (realDir + "/sub").c_str());
    EXPECT_EQ(f.getAccess(), 15u);
    EXPECT_FALSE(ZTFile(nullptr).isValid());
    EXPECT_FALSE(ZTFile("").isValid());
}

TEST(ZTFileNames, OpensOtherLetterCasesDottedNamesAndLongPaths) {
    TempDir dir;
    std::string deep = dir.path();
    while (deep.size() < 400) {
        deep += "/" + std::string(60, 'd');
        ASSERT_EQ(mkdir(deep.c_str(), 0755), 0);
    }
    struct Case {
        std::string createAs, openAs;
        bool lowerCase;
    } cases[] = {
        {dir.file("Data"), dir.file("Data.Old.ZT"), false},
        {dir.file(".hidden"), dir.file(".hidden.ZT"), false},
        {dir.file("lower"), dir.file("lower.zt2"), true},
        {deep + "/db", deep + "/db.ZT", false},
    };
    for (const Case& c : cases) {
        {
            ZTFile made(c.createAs.c_str());
            ASSERT_TRUE(made.create(3, 30, 30)) << c.createAs;
        }
        if (c.lowerCase)
            for (const char* ext : kDatabaseExtensions) {
                std::string lower = ext;
                for (char& ch : lower) ch = char(std::tolower(ch));
                ASSERT_EQ(std::rename((c.createAs + "." + ext).c_str(),
                                      (c.createAs + "." + lower).c_str()),
                          0);
            }
        ZTFile f(c.openAs.c_str());
        EXPECT_EQ(f.open(3, true), 3u) << c.openAs;
        EXPECT_EQ(std::string(f.getTitle()), c.createAs.substr(c.createAs.rfind('/') + 1));
    }
}

TEST(ZTFileOpen, ModesOfOneProcess) {
    TempDir dir;
    std::string base = writeDatabase(dir);
    ZTFile file(base.c_str());
    EXPECT_EQ(file.open(3, true), 3u);
    EXPECT_TRUE(file.isUsable());
    EXPECT_EQ(file.getAccess(), 0u);  // callers set the access they want after opening
    EXPECT_EQ(file.getRowCount(), 16);
    EXPECT_EQ(file.open(9, true), 1u | 8u | 0x200u);
    EXPECT_EQ(file.open(11, true), 1u | 2u | 8u | 0x200u);
    EXPECT_EQ(file.open(7, true), 7u);
    EXPECT_EQ(file.open(1, true), 1u);
    EXPECT_FALSE(file.isUsable());
    file.close();
    EXPECT_FALSE(file.isOpen());
    EXPECT_TRUE(file.exists());
    EXPECT_FALSE(ZTFile(dir.file("none").c_str()).exists());

    for (const char* ext : kDatabaseExtensions) chmod((base + "." + ext).c_str(), 0444);
    // Files without write permission bits open read-only, for root as well.
    EXPECT_EQ(file.open(3, true), 1u | 2u | 8u);
    EXPECT_EQ(file.open(9, true), 1u | 8u);
    std::unique_ptr<ZTFile> writable(file.duplicate(3));
    EXPECT_EQ(writable, nullptr);
    std::unique_ptr<ZTFile> reader(file.duplicate(0));
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->getOpenMode(), 9u);
}

TEST(ZTFileOpen, TheOpenersFlagsStayWithTheDatabaseAndItsDuplicates) {
    TempDir dir;
    std::string base = writeDatabase(dir);
    ZTFile file(base.c_str(), 0x35);
    EXPECT_EQ(file.getFlags(), 0x35u);
    ASSERT_EQ(file.open(3, true), 3u);
    std::unique_ptr<ZTFile> copy(file.duplicate(0));
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->getFlags(), 0x35u);
    EXPECT_EQ(ZTFile(base.c_str()).getFlags(), 0u);
}

TEST(ZTFileOpen, IndexFilesMissingOrForeign) {
    TempDir dir;
    std::string base = writeDatabase(dir);
    ZTFile file(base.c_str());
    ASSERT_EQ(std::rename((base + ".IX").c_str(), dir.file("saved").c_str()), 0);
    EXPECT_EQ(file.open(3, true), 1u | 16u);
    EXPECT_FALSE(file.isUsable());
    ASSERT_EQ(std::rename(dir.file("saved").c_str(), (base + ".IX").c_str()), 0);

    // The dictionary's index in the row index's place: tags that are not the engine's.
    std::string rowIndex = dbcheck::fileBytes(base + ".IX");
    ASSERT_EQ(std::system(("cp '" + base + ".IX2' '" + base + ".IX'").c_str()), 0);
    EXPECT_EQ(file.open(3, true), 1u | 32u);
    FILE* f = std::fopen((base + ".IX").c_str(), "wb");
    std::fwrite(rowIndex.data(), 1, rowIndex.size(), f);
    std::fclose(f);
    EXPECT_EQ(file.open(3, true), 3u);

    // A table of another layout is no database, and nothing is written to it.
    file.close();
    std::string zt = dbcheck::fileBytes(base + ".ZT");
    zt[32 + 16] = 4;  // field A four wide, B three
    f = std::fopen((base + ".ZT").c_str(), "wb");
    std::fwrite(zt.data(), 1, zt.size(), f);
    std::fclose(f);
    FilesState before = filesState(base);
    EXPECT_EQ(file.open(3, true), 0u);
    EXPECT_FALSE(file.isOpen());
    EXPECT_TRUE(filesState(base) == before);
}

// Record counts: the end-of-file byte passes, a surplus record is cut with the index rebuilt,
// a short file keeps its whole records, read-only opens write nothing.
TEST(ZTFileOpen, RecordCountCheckAndRepair) {
    struct Case {
        const char* name;
        const char* ext;
        int countChange;   // added to the header's count
        int lengthChange;  // added to the file's length (after the count change)
        uint32_t mode;
        uint32_t word;  // the open's result
        int64_t count;  // the table's count afterwards
        bool sameFiles;
    } cases[] = {
        {"end-of-file byte only", "ZT", 0, 0, 3, 3, -1, true},
        {"no end-of-file byte", "ZT", 0, -1, 3, 3, -1, true},
        {"one record beyond the count", "ZT", -1, 0, 3, 3 | 64, 15, false},
        {"one chunk beyond the count", "ZT2", -1, 0, 3, 3 | 64, 8, false},
        {"half a record short", "ZT", 0, -23, 3, 3 | 64, 15, false},
        {"read-only, a record beyond", "ZT", -1, 0, 11, 11 | 0x200, -1, true},
        {"read-only, half a record short", "ZT", 0, -23, 11, 0, -1, true},
        {"shared tables only", "ZT", -1, 0, 1, 1 | 64, 15, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        std::string base = writeDatabase(dir);
        std::string path = base + "." + c.ext;
        dbcheck::Report sound = checkFiles(base);
        int64_t count = c.ext[2] == '2' ? int64_t(sound.chunks.size()) : int64_t(sound.rows.size());
        ASSERT_TRUE(dbcheck::setHeaderCount(path, uint32_t(count + c.countChange)));
        ASSERT_TRUE(dbcheck::setFileLength(path, dbcheck::fileLength(path) + c.lengthChange));
        FilesState before = filesState(base);
        ZTFile file(base.c_str());
        EXPECT_EQ(file.open(c.mode, true), c.word);
        file.close();
        EXPECT_EQ(filesState(base) == before, c.sameFiles);
        if (c.sameFiles) continue;
        dbcheck::Report r = checkFiles(base);
        const dbcheck::TableLayout& t = c.ext[2] == '2' ? r.layout.dictionary : r.layout.rows;
        EXPECT_EQ(t.count, c.count);
        EXPECT_EQ(t.fileLength, t.headerLength + t.count * t.recordWidth + 1);
        // The tags hold exactly the rows that are left.
        EXPECT_FALSE(r.has(1) || r.has(8)) << r.text();
    }
}

TEST(ZTFileOpen, AnEmptyTableFailsTheCheck) {
    TempDir dir;
    std::string base = writeDatabase(dir);
    ASSERT_TRUE(dbcheck::setFileLength(base + ".ZT2", 0));
    ZTFile file(base.c_str());
    EXPECT_EQ(file.open(3, true), 0u);
    EXPECT_EQ(dbcheck::fileLength(base + ".ZT2"), 0);
}

// Random damage to the headers of the four files: every open ends in a word, without a crash,
// and an open that fails or is read-only writes nothing.
void fuzzOpen(int rounds, uint32_t seed) {
    TempDir dir;
    std::string base = writeDatabase(dir);
    FilesState sound = filesState(base);
    std::mt19937 rng(seed);
    for (int round = 0; round < rounds; ++round) {
        for (int i = 0; i < 4; ++i) {
            FILE* f = std::fopen(ZTFile::findTablePath(base, kDatabaseExtensions[i]).c_str(), "wb");
            std::fwrite(sound.bytes[i].data(), 1, sound.bytes[i].size(), f);
            std::fclose(f);
        }
        int file = int(rng() % 4);
        std::string path = base + "." + kDatabaseExtensions[file];
        std::string bytes = sound.bytes[file];
        int changes = 1 + int(rng() % 6);
        for (int k = 0; k < changes; ++k) {
            size_t limit = file % 2 == 0 ? 260 : bytes.size();
            bytes[rng() % std::min(limit, bytes.size())] = char(rng());
        }
        if (rng() % 8 == 0) bytes.resize(rng() % bytes.size());
        FILE* f = std::fopen(path.c_str(), "wb");
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
        FilesState before = filesState(base);
        uint32_t mode = rng() % 2 ? 3 : 11;
        ZTFile db(base.c_str());
        uint32_t word = db.open(mode, true);
        ASSERT_EQ(word & ~uint32_t(1 | 2 | 8 | 16 | 32 | 64 | 0x200), 0u) << round;
        db.close();
        // A usable read-write open may set the next-ID counter a damaged row made look stale.
        if ((word & 64) == 0 && (word & (2 | 8)) != 2) {
            ASSERT_TRUE(filesState(base) == before) << "round " << round;
        }
    }
}

TEST(ZTFileOpen, DamagedHeadersGiveAWordAndWriteNothing) {
    fuzzOpen(150, 7);
}

TEST(ZTFileOpen, LONG_DamagedHeadersGiveAWordAndWriteNothing) {
    fuzzOpen(5000, 8);
}

TEST(ZTFileSettings, DictionaryVersionAccessAndOptions) {
    TempDir dir;
    std::string base = createDatabase(dir);
    ZTFile file(base.c_str());
    ASSERT_EQ(file.open(3, true), 3u);
    EXPECT_EQ(file.getDictionaryVersion(), 600);
    struct Case {
        int32_t set;
        const char* name;
        int32_t reads;
    } cases[] = {{500, "C", 500}, {100000, "C0", 500}, {612, "C612", 612}, {600, "C600", 600}};
    for (const Case& c : cases) {
        ASSERT_TRUE(file.setDictionaryVersion(c.set));
        EXPECT_EQ(file.getDictionaryVersion(), c.reads) << c.set;
        std::string stored = dbcheck::fileBytes(base + ".ZT2").substr(96, 11);
        EXPECT_EQ(stored, std::string(c.name) + std::string(11 - std::strlen(c.name), '\0'));
        ZTFile other(base.c_str());
        ASSERT_EQ(other.open(3, true), 3u);
        EXPECT_EQ(other.getDictionaryVersion(), c.reads);
    }
    EXPECT_TRUE(checkFiles(base).sound());

    EXPECT_EQ(file.setAccess(14), 0u);
    EXPECT_EQ(file.setAccess(5), 5u);
    EXPECT_FALSE(file.hasOptions());
    file.setOptions(4);
    EXPECT_TRUE(file.hasOptions());
    EXPECT_EQ(file.getOptions(), 4u);
    file.clearOptions();
    EXPECT_FALSE(file.hasOptions());
    file.addJob();
    EXPECT_TRUE(file.isBusy());
    file.removeJob();
    EXPECT_FALSE(file.isBusy());
}

TEST(ZTFileMaintenance, PackAndRebuildIndexesKeepTheDatabaseSound) {
    TempDir dir;
    dbcheck::Fixture fx;
    fx.counter(1010);
    for (uint32_t r = 1001; r < 1009; ++r) fx.value(r, 2, 1, "value " + std::to_string(r));
    fx.freeRow();
    fx.freeRow();
    fx.chunks.push_back({0, 0, "", true});
    std::string base = dir.file("db");
    ASSERT_TRUE(fx.write(base));
    ZTFile file(base.c_str());
    for (uint32_t mode : {3u, 7u}) {
        ASSERT_EQ(file.open(mode, true), mode);
        EXPECT_TRUE(file.pack());
        EXPECT_EQ(file.getRowCount(), 9);
        EXPECT_EQ(file.getDictionaryRowCount(), 9);
        file.close();
        dbcheck::Report r = checkFiles(base);
        EXPECT_TRUE(r.sound()) << r.text();
    }

    // Index files damaged beyond use are made again, and the database is open as before.
    ASSERT_TRUE(dbcheck::setFileLength(base + ".IX", 700));
    std::remove((base + ".IX2").c_str());
    EXPECT_EQ(file.open(3, true) & 2u, 0u);
    EXPECT_TRUE(file.rebuildIndexes());
    EXPECT_EQ(file.getOpenMode(), 1u);  // as it was: the tables without indexes
    EXPECT_EQ(file.open(3, true), 3u);
    file.close();
    EXPECT_TRUE(checkFiles(base).sound()) << checkFiles(base).text();
    ASSERT_EQ(file.open(9, true), 9u | 0x200u);
    EXPECT_FALSE(file.pack());
}

}  // namespace
