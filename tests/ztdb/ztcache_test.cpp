// The record cache (through a stand-in image that reads a field's name and logs each read) and
// the registry of open databases on real files: spellings of one database, failed opens,
// related databases, renaming and notices.
#include "ztdb/ztcache.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "assert_capture.h"
#include "ztfile_helpers.h"

namespace {

// A record image that reads the name of a field, and notes the notices it acts on.
struct NameImage : ZTRefreshedBaseClass {
    explicit NameImage(ZTFile* file) : ZTRefreshedBaseClass(file), file(file) {}
    int refresh(ZTRefreshInfo*, void*) override {
        ++notices;
        return int(id & 3);
    }
    ZTFile* file;
    uint32_t id = 0;
    ZTStr name;
    int notices = 0;
};

class NameCache : public ZTRecordCache<NameImage> {
  public:
    using ZTRecordCache::ZTRecordCache;
    uint32_t count() const { return ids_.size; }
    std::vector<uint32_t> reads;

  protected:
    NameImage* createRecord() override { return new NameImage(getFile()); }
    void readRecord(NameImage* image, uint32_t recordID) override {
        reads.push_back(recordID);
        image->id = recordID;
        image->file->findFieldName(recordID, &image->name);
    }
};

class RecordCacheTest : public ::testing::Test {
  protected:
    void SetUp() override {
        base = writeDatabase(dir);
        file = std::make_unique<ZTFile>(base.c_str());
        ASSERT_EQ(file->open(3, false), 3u);
    }
    TempDir dir;
    std::string base;
    std::unique_ptr<ZTFile> file;
};

TEST_F(RecordCacheTest, ReadsOnAMissAndKeepsTheImage) {
    NameCache cache(file.get(), 100);
    NameImage* town = cache.get(1001);
    ASSERT_NE(town, nullptr);
    EXPECT_STREQ(town->name.text, "Town");
    EXPECT_EQ(cache.get(1001), town);
    EXPECT_EQ(cache.reads, std::vector<uint32_t>{1001});
    // A record that is no field reads as the reading leaves it.
    EXPECT_STREQ(cache.get(1003)->name.text, "");
    EXPECT_EQ(cache.reads.size(), 2u);
}

TEST_F(RecordCacheTest, DropsTheOldestFirstOnceTheMaximumIsReached) {
    NameCache cache(file.get(), 100);
    for (uint32_t id = 1; id <= 100; ++id) ASSERT_EQ(cache.get(id)->id, id);
    EXPECT_EQ(cache.count(), 99u);
    // IDs 2 to 100 are held; a hit does not save an entry from its turn.
    for (uint32_t id = 100; id >= 2; --id) EXPECT_EQ(cache.get(id)->id, id);
    EXPECT_EQ(cache.reads.size(), 100u);
    EXPECT_EQ(cache.get(1)->id, 1u);
    EXPECT_EQ(cache.reads.back(), 1u);
    EXPECT_EQ(cache.count(), 99u);
    cache.get(3);
    EXPECT_EQ(cache.reads.size(), 101u);
    cache.get(2);
    EXPECT_EQ(cache.reads.size(), 102u);
    EXPECT_EQ(cache.reads.back(), 2u);
}

TEST_F(RecordCacheTest, TheSmallestMaximumReturnsTheImageJustRead) {
    NameCache cache(file.get(), 2);
    for (uint32_t id : {1001u, 1002u, 1001u}) {
        NameImage* image = cache.get(id);
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(image->id, id);
        EXPECT_EQ(cache.count(), 1u);
    }
    EXPECT_EQ(cache.reads.size(), 3u);
}

TEST_F(RecordCacheTest, AMaximumBelowTwoOrNoFileIsRefused) {
    struct Case {
        bool withFile;
        uint32_t maximum;
    } cases[] = {{true, 1}, {true, 0}, {false, 100}};
    for (const Case& c : cases) {
        AssertCapture asserts;
        NameCache cache(c.withFile ? file.get() : nullptr, c.maximum);
        EXPECT_FALSE(cache.isValid());
        EXPECT_EQ(cache.get(1001), nullptr);
        EXPECT_EQ(cache.load(1001, -1), nullptr);
        EXPECT_TRUE(cache.reads.empty());
        EXPECT_FALSE(asserts.reports().empty()) << c.maximum;
    }
}

TEST_F(RecordCacheTest, LoadReadsAgainIntoAnImageAndSetFileDropsThem) {
    NameCache cache(file.get(), 10);
    NameImage* image = cache.get(1001);
    EXPECT_EQ(cache.load(1002, 0), image);
    EXPECT_STREQ(image->name.text, "");
    EXPECT_EQ(cache.get(1002), image);
    EXPECT_EQ(cache.reads, (std::vector<uint32_t>{1001, 1002}));
    {
        AssertCapture asserts;
        EXPECT_EQ(cache.load(1001, 1), nullptr);
        EXPECT_EQ(asserts.reports().size(), 1u);
    }
    cache.setFile(file.get());
    EXPECT_EQ(cache.count(), 0u);
    cache.get(1002);
    EXPECT_EQ(cache.reads.size(), 3u);
}

TEST_F(RecordCacheTest, CopiesOwnTheirImages) {
    NameCache cache(file.get(), 10);
    cache.get(1001);
    cache.get(1002);
    NameCache copy(file.get(), 3);
    copy = cache;
    copy.reads.clear();
    cache.clear();
    ASSERT_EQ(copy.count(), 2u);
    EXPECT_STREQ(copy.get(1001)->name.text, "Town");
    EXPECT_TRUE(copy.reads.empty());
    // The maximum came along: 10, not 3.
    for (uint32_t id = 1; id <= 7; ++id) copy.get(id);
    EXPECT_EQ(copy.count(), 9u);
    NameCache built(copy);
    copy.clear();
    EXPECT_EQ(built.count(), 9u);
    EXPECT_EQ(built.get(7)->id, 7u);
}

TEST_F(RecordCacheTest, NoticesReachEveryImageOnce) {
    NameCache cache(file.get(), 10);
    cache.get(1001);  // answers 1
    cache.get(1002);  // answers 2
    ZTRefreshInfo info;
    info.add(file.get(), 1001, 0, ZTRefreshItem::kChanged);
    EXPECT_EQ(cache.dispatchRefresh(&info, nullptr), 3);
    EXPECT_EQ(cache.dispatchRefresh(&info, nullptr), 0);  // seen
    EXPECT_EQ(cache.get(1001)->notices, 1);
    EXPECT_EQ(cache.get(1002)->notices, 1);
    // Another database's notice reaches no image.
    ZTRefreshInfo other;
    other.addByID(file->getFileID() + 1);
    EXPECT_EQ(cache.dispatchRefresh(&other, nullptr), 0);
    EXPECT_EQ(cache.get(1001)->notices, 1);
}

// ---- the registry ----

std::string folderName(const TempDir& dir) {
    return dir.path().substr(dir.path().rfind('/') + 1);
}

// The name a ZTFile gives the database (its folder resolved).
std::string nameOf(const std::string& path) {
    return ZTFile::canonicalBase(path.c_str());
}

TEST(ZTFileCacheTest, SpellingsOfOneDatabaseShareOneFile) {
    TempDir dir, other;
    const std::string base = createDatabase(dir);
    ASSERT_EQ(symlink("db.ZT", dir.file("link.ZT").c_str()), 0);
    ASSERT_EQ(symlink(dir.path().c_str(), other.file("alias").c_str()), 0);
    const std::string spellings[] = {
        base + ".ZT",
        base,
        base + ".zt",
        base + ".IX2",
        dir.file("link"),
        dir.file("link.ZT"),
        dir.path() + "/../" + folderName(dir) + "/./db",
        other.file("alias") + "/db.ZT",
    };
    ZTFileCache registry;
    ZTFile* file = registry.open(spellings[0].c_str(), 3);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->getOpenMode(), 3u);
    for (const std::string& s : spellings) {
        EXPECT_EQ(registry.find(s.c_str()), file) << s;
        if (&s != &spellings[0]) {
            EXPECT_EQ(registry.open(s.c_str(), 3), file) << s;
        }
    }
    EXPECT_EQ(registry.getCount(), 1u);
    EXPECT_EQ(file->getFileName(), nameOf(base));
    for (size_t i = 1; i < std::size(spellings); ++i) {
        EXPECT_EQ(registry.release(file), 1);
        ASSERT_EQ(registry.find(base.c_str()), file);
        EXPECT_TRUE(file->isOpen());
    }
    EXPECT_EQ(registry.release(file), 1);
    EXPECT_EQ(registry.getCount(), 0u);
    EXPECT_EQ(registry.find(base.c_str()), nullptr);
}

TEST(ZTFileCacheTest, NamesThatDifferInCaseAreTwoDatabases) {
    TempDir dir;
    const std::string lower = createDatabase(dir, "db");
    const std::string upper = createDatabase(dir, "DB");
    ZTFileCache registry;
    ZTFile* a = registry.open((lower + ".ZT").c_str(), 3);
    ZTFile* b = registry.open(upper.c_str(), 3);
    ASSERT_NE(a, b);
    EXPECT_EQ(registry.getCount(), 2u);
    EXPECT_TRUE(a->isOpen() && b->isOpen());
    EXPECT_EQ(registry.find((upper + ".zt").c_str()), b);
    EXPECT_EQ(registry.getFile(0), a);
    EXPECT_EQ(registry.getFile(1), b);
    EXPECT_EQ(registry.getFile(2), nullptr);
    EXPECT_EQ(registry.findByFileID(b->getFileID()), b);
    EXPECT_EQ(registry.findByFileID(a->getFileID() ^ b->getFileID()), nullptr);
    registry.clear();
    EXPECT_EQ(registry.getCount(), 0u);
    EXPECT_EQ(registry.find(lower.c_str()), nullptr);
}

TEST(ZTFileCacheTest, PathsThatNameNoDatabaseRegisterNothing) {
    TempDir dir;
    ZTFileCache registry;
    for (const char* path : {static_cast<const char*>(nullptr), "", ".", "/"}) {
        EXPECT_EQ(registry.open(path, 3), nullptr) << (path ? path : "null");
        EXPECT_EQ(registry.find(path), nullptr);
    }
    EXPECT_EQ(registry.getCount(), 0u);
    ZTFile stranger(dir.file("db").c_str());
    EXPECT_EQ(registry.release(&stranger), 0);
    EXPECT_EQ(registry.release(nullptr), 0);
}

TEST(ZTFileCacheTest, AFailedOpenIsTriedAgainAtTheNextOpen) {
    enum class Cause { missing, heldExclusive };
    for (Cause cause : {Cause::missing, Cause::heldExclusive}) {
        SCOPED_TRACE(cause == Cause::missing ? "missing" : "held exclusive");
        TempDir dir;
        const std::string base = dir.file("db");
        auto holder = std::make_unique<ZTFile>(base.c_str());
        if (cause == Cause::heldExclusive) {
            ASSERT_TRUE(holder->create(3, 30, 30));
            ASSERT_EQ(holder->open(7, false), 7u);
        }
        ZTFileCache registry;
        ZTFile* file = registry.open(base.c_str(), 3);
        ASSERT_NE(file, nullptr);
        EXPECT_FALSE(file->isOpen());
        EXPECT_EQ(registry.open(base.c_str(), 3), file);
        EXPECT_FALSE(file->isOpen());
        if (cause == Cause::missing)
            ASSERT_TRUE(holder->create(3, 30, 30));
        else
            holder->close();
        EXPECT_EQ(registry.open((base + ".ZT").c_str(), 3), file);
        EXPECT_EQ(file->getOpenMode(), 3u);
        EXPECT_EQ(registry.getCount(), 1u);
        // Three opens, three releases.
        EXPECT_EQ(registry.release(file), 1);
        EXPECT_EQ(registry.release(file), 1);
        EXPECT_EQ(registry.find(base.c_str()), file);
        EXPECT_EQ(registry.release(file), 1);
        EXPECT_EQ(registry.getCount(), 0u);
    }
}

TEST(ZTFileCacheTest, AnOpenFileKeepsItsModeAndAClosedOneStaysWithItsUsers) {
    TempDir dir;
    const std::string base = createDatabase(dir);
    ZTFileCache registry;
    ZTFile* file = registry.open(base.c_str(), 7);
    ASSERT_EQ(file->getOpenMode(), 7u);
    EXPECT_EQ(registry.open(base.c_str(), 3), file);
    EXPECT_EQ(file->getOpenMode(), 7u);
    file->close();
    EXPECT_EQ(registry.open(base.c_str(), 3), file);
    EXPECT_FALSE(file->isOpen());
}

TEST(ZTFileCacheTest, OpenRelatedFollowsDatabaseRecords) {
    TempDir dir;
    const std::string other = createDatabase(dir, "other");
    ASSERT_EQ(symlink("other.ZT", dir.file("mirror.ZT").c_str()), 0);
    dbcheck::Fixture fx;
    fx.counter(1010);
    fx.value(1001, 33, 1,
             other +
                 "\x1b"
                 "eZT");
    fx.value(1002, 33, 1, dir.file("mirror"));
    fx.value(1003, 34, 1, "no path here");
    const std::string base = dir.file("db");
    ASSERT_TRUE(fx.write(base)) << fx.error;

    ZTFileCache registry;
    ZTFile unregistered(base.c_str());
    ASSERT_EQ(unregistered.open(3, false), 3u);
    // The database itself, unregistered: itself, nothing counted.
    EXPECT_EQ(registry.openRelated(&unregistered, ZTFileCache::kThisDatabase, 3), &unregistered);
    EXPECT_EQ(registry.getCount(), 0u);
    EXPECT_EQ(registry.release(&unregistered), 0);

    ZTFile* file = registry.open(base.c_str(), 3);
    ZTFile* related = registry.openRelated(file, 1001, 3);
    ASSERT_NE(related, nullptr);
    EXPECT_EQ(related->getFileName(), nameOf(other));
    EXPECT_EQ(related->getOpenMode(), 3u);
    EXPECT_EQ(registry.openRelated(file, 1002, 3), related);
    EXPECT_EQ(registry.getCount(), 2u);
    for (uint32_t id : {1003u, 1004u, 0u}) EXPECT_EQ(registry.openRelated(file, id, 3), nullptr);
    EXPECT_EQ(registry.getCount(), 2u);

    // The database itself, registered: one more use.
    EXPECT_EQ(registry.openRelated(file, ZTFileCache::kThisDatabase, 3), file);
    EXPECT_EQ(registry.release(file), 1);
    EXPECT_EQ(registry.find(base.c_str()), file);
    EXPECT_EQ(registry.release(file), 1);
    EXPECT_EQ(registry.find(base.c_str()), nullptr);
    EXPECT_EQ(registry.release(related), 1);
    EXPECT_EQ(registry.release(related), 1);
    EXPECT_EQ(registry.getCount(), 0u);

    // A file that cannot be read names nothing.
    ZTFile closed(base.c_str());
    EXPECT_EQ(registry.openRelated(&closed, 1001, 3), nullptr);
}

TEST(ZTFileCacheTest, RenameMovesTheEntryAndOpensInTheOldMode) {
    struct Case {
        const char* target;
        bool renamed;
    } cases[] = {{"renamed", true}, {"taken", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        TempDir dir;
        const std::string base = createDatabase(dir);
        createDatabase(dir, "taken");
        ZTFileCache registry;
        ZTFile* file = registry.open(base.c_str(), 7);
        ASSERT_EQ(file->getOpenMode(), 7u);
        EXPECT_EQ(registry.rename(file, c.target), c.renamed);
        EXPECT_EQ(file->getOpenMode(), 7u);
        const std::string now = c.renamed ? dir.file(c.target) : base;
        EXPECT_EQ(file->getFileName(), nameOf(now));
        EXPECT_EQ(registry.find(now.c_str()), file);
        EXPECT_EQ(registry.open(now.c_str(), 3), file);
        if (c.renamed) {
            EXPECT_EQ(registry.find(base.c_str()), nullptr);
        }
        EXPECT_EQ(registry.getCount(), 1u);
    }
}

TEST(ZTFileCacheTest, NoticesReachEveryRegisteredFile) {
    TempDir dir;
    const std::string a = createDatabase(dir, "a");
    const std::string b = createDatabase(dir, "b");
    ZTFileCache registry;
    ZTFile* fa = registry.open(a.c_str(), 3);
    ZTFile* fb = registry.open(b.c_str(), 3);
    ZTRefreshInfo both;
    both.add(fa);
    both.add(fb);
    EXPECT_EQ(registry.dispatchRefresh(&both, nullptr), 0);
    // Each file took the notice through its own dispatch, so it has seen it.
    EXPECT_FALSE(fa->acceptRefresh(&both));
    EXPECT_FALSE(fb->acceptRefresh(&both));
    ZTRefreshInfo onlyA;
    onlyA.add(fa);
    EXPECT_EQ(registry.dispatchRefresh(&onlyA, nullptr), 0);
    EXPECT_FALSE(fa->acceptRefresh(&onlyA));
}

}  // namespace
