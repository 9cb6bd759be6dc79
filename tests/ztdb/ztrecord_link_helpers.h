#pragma once
// Test helpers for back values: two databases that know each other.
#include <string>
#include <vector>

#include "ztdb/ztrecord.h"
#include "ztrecord_helpers.h"

namespace recordtest {

// The text of an external link: 'l' the database reference, 'r' the record.
inline std::string externalText(uint32_t file, uint32_t record) {
    ZTStr s(0);
    s.setTagInt('l', file);
    s.setTagInt('r', record);
    return s.text;
}

// Two databases in one folder, each with a reference to the other (record 1300 in both). A's
// record 1200 links out; B's records 1400 and 1401 receive back values.
struct TwoDatabases {
    static constexpr uint32_t kRef = 1300;
    static constexpr uint32_t kR = 1200;
    static constexpr uint32_t kS = 1400;
    static constexpr uint32_t kS2 = 1401;
    TempDir dir;
    std::string baseA = createDatabase(dir, "alpha");
    std::string baseB = createDatabase(dir, "beta");
    ZTFile a{baseA.c_str()};
    ZTFile b{baseB.c_str()};

    TwoDatabases() {
        EXPECT_EQ(a.open(3, false), 3u);
        EXPECT_EQ(b.open(3, false), 3u);
        EXPECT_TRUE(ZTRec(&a).setCounter(2000));
        EXPECT_TRUE(ZTRec(&b).setCounter(2000));
        reference(a, b.getFileName());
        reference(b, a.getFileName());
        atomtest::makeField(a, kTags, "Tags");
        addValue(a, kR, kName, 1, "R");
        addValue(b, kS, kName, 1, "S");
        addValue(b, kS2, kName, 1, "S2");
    }
    static void reference(ZTFile& in, const std::string& path) {
        ZTStr text(0);
        text.assign(path.c_str());
        text.setTag('e', "ZT");
        addValue(in, kRef, 33, 1, text.text);
    }
    // The text of the database's reference (null: the reference is removed).
    static void rewriteReference(ZTFile& in, const char* text) {
        ZTRecord ref(&in, nullptr, nullptr, nullptr);
        ref.read(kRef);
        EXPECT_TRUE(text ? ref.setText(0, text) : ref.removeValue(0));
        EXPECT_EQ(ref.write(nullptr), 1);
    }
    // The back values (field 35) of B's record.
    std::vector<std::string> backValues(uint32_t record) { return textsOf(b, record, 35); }
    // R's first value of Tags, made when missing.
    static uint32_t tagsOf(ZTRecord& r) {
        const int at = r.indexOf(kTags, 0);
        return at >= 0 ? uint32_t(at) : uint32_t(r.insertValue(ZTRecord::kNoIndex, kTags, 3));
    }
    void expectBothSound() {
        a.close();
        b.close();
        for (const std::string& base : {baseA, baseB}) {
            const dbcheck::Report report = dbcheck::checkDatabase(base);
            EXPECT_TRUE(report.sound()) << base << "\n" << report.text();
        }
    }
};

}  // namespace recordtest
