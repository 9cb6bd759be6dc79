// The checker names each seeded fault by its rule and stays silent on sound databases.
#include "support/dbcheck.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "support/dbdamage.h"
#include "support/dbfixture.h"
#include "xbase/temp_dir.h"
#include "ztdb/ztcodec.h"

namespace {

using dbcheck::Fixture;
using dbcheck::Seeded;
using dbcheck::Sound;

dbcheck::Report check(Fixture& fx, const TempDir& dir) {
    std::string base = dir.file("db");
    EXPECT_TRUE(fx.write(base)) << fx.error;
    return dbcheck::checkDatabase(base, {fx.dayFirst, 200});
}

TEST(Checker, IsSilentOnASoundDatabase) {
    for (bool dayFirst : {false, true}) {
        TempDir dir;
        Sound s(dayFirst);
        s.fx.value(1006, 1002, 4, "1/2/2003");  // a date whose key depends on the order
        dbcheck::Report r = check(s.fx, dir);
        EXPECT_TRUE(r.sound()) << r.text();
        EXPECT_EQ(r.rows.size(), s.fx.rows.size());
        EXPECT_EQ(r.layout.rowTags.size(), 3u);
        // The same files read in the other order disagree on that date's key.
        dbcheck::Report other = dbcheck::checkDatabase(dir.file("db"), {!dayFirst, 200});
        EXPECT_EQ(other.rules(), std::vector<int>{4});
    }
}

TEST(Checker, NamesEachSeededFaultByItsRule) {
    const std::vector<dbcheck::Seeded>& cases = dbcheck::seededFaults();
    for (const Seeded& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        Sound s;
        if (c.before) c.before(s);
        std::string base = dir.file("db");
        ASSERT_TRUE(s.fx.write(base)) << s.fx.error;
        if (c.after) c.after(s, base);
        dbcheck::Report r = dbcheck::checkDatabase(base);
        EXPECT_EQ(r.rules(), c.rules) << r.text();
    }
}

TEST(Checker, FindsFilesInAnyLetterCase) {
    TempDir dir;
    Sound s;
    ASSERT_TRUE(s.fx.write(dir.file("db")));
    for (const char* ext : {"ZT", "IX", "ZT2", "IX2"}) {
        std::string lower = ext;
        for (char& ch : lower) ch = char(std::tolower(ch));
        ASSERT_EQ(std::rename(dir.file(std::string("db.") + ext).c_str(),
                              dir.file("db." + lower).c_str()),
                  0);
    }
    dbcheck::Report r = dbcheck::checkDatabase(dir.file("db"));
    EXPECT_TRUE(r.sound()) << r.text();
    EXPECT_EQ(r.layout.rows.path, dir.file("db.zt"));
}

}  // namespace
