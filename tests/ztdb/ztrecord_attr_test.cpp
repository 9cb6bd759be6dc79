// Record images: value attributes, display kinds, display and choice texts, the summary, titles
// and the creation and modification stamps.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "date_order_pin.h"
#include "platform/document_opener.h"
#include "ztdb/ztkey.h"
#include "ztdb/ztrecord.h"
#include "ztrecord_helpers.h"

using namespace recordtest;
using Texts = std::vector<std::string>;

namespace {

// Knows a program for ".pdf" documents only, and never asks the desktop.
class PdfOpener : public qv::DocumentOpener {
  public:
    PdfOpener() { previous_ = qv::setDocumentOpener(this); }
    ~PdfOpener() override { qv::setDocumentOpener(previous_); }
    bool hasProgramFor(const std::string& path) override {
        return path.size() > 4 && path.compare(path.size() - 4, 4, ".pdf") == 0;
    }
    bool open(const std::string&, const std::string&) override { return false; }

  private:
    qv::DocumentOpener* previous_;
};

// The same fields, the same fixed part.
bool sameList(const ZTSet& a, const ZTSet& b) {
    return a.equals(b) && a.getFixedCount() == b.getFixedCount();
}

// An 'a' section holding the entries given as (attribute, text).
std::string withAttrs(const std::string& head,
                      const std::vector<std::pair<uint32_t, std::string>>& attrs) {
    std::string section;
    for (const auto& [attr, text] : attrs) section += "\4" + std::to_string(attr) + "\4" + text;
    ZTStr whole;
    whole.assign(head.c_str());
    whole.setTag('a', section.c_str());
    return whole.text;
}

// Fields with attributes beside the people of PeopleDatabase.
struct AttrDatabase : PeopleDatabase {
    static constexpr uint32_t kMail = 1010;    // 104: e-mail addresses
    static constexpr uint32_t kFlags = 1011;   // 220: L1, L2, L3
    static constexpr uint32_t kChoice = 1012;  // 219: L1, L2, L3; 223: 2
    static constexpr uint32_t kHidden = 1013;  // 234, and 220
    static constexpr uint32_t kMany = 1014;    // 220: 40 labels
    static constexpr uint32_t kGaps = 1015;    // 220 with empty pieces

    AttrDatabase() {
        EXPECT_TRUE(file.lock(false));
        atomtest::makeField(file, kMail, "Mail");
        addValue(file, kMail, ZTRecord::kAttrMailAddress, 1, "1");
        atomtest::makeField(file, kFlags, "Flags");
        addValue(file, kFlags, ZTRecord::kAttrFlags, 1, "L1\4L2\4L3");
        atomtest::makeField(file, kChoice, "Choice");
        addValue(file, kChoice, ZTRecord::kAttrChoices, 1, "L1\4L2\4L3");
        addValue(file, kChoice, ZTRecord::kAttrChoiceDefault, 1, "2");
        atomtest::makeField(file, kHidden, "Hidden");
        addValue(file, kHidden, ZTRecord::kAttrNoTitle, 1, "1");
        addValue(file, kHidden, ZTRecord::kAttrFlags, 1, "H1\4H2");
        atomtest::makeField(file, kMany, "Many");
        std::string many;
        for (int k = 0; k < 40; ++k) many += (k ? "\4" : "") + std::string("M") + std::to_string(k);
        addValue(file, kMany, ZTRecord::kAttrFlags, 1, many);
        atomtest::makeField(file, kGaps, "Gaps");
        addValue(file, kGaps, ZTRecord::kAttrFlags, 1, "\4A\4\4B\4");
        EXPECT_TRUE(file.unlock());
    }

    // A new unstored record holding one value of the field.
    ZTRecord* oneValue(ZTRecord& r, uint32_t field, const std::string& text) {
        r.clear(true);
        const int at = r.insertValue(ZTRecord::kNoIndex, field, ZTRecord::kStateOutside);
        EXPECT_EQ(at, 0);
        EXPECT_TRUE(r.setText(0, text.c_str()));
        return &r;
    }
};

TEST(RecordAttr, EntriesAreFoundByTheirMarkerWhateverStandsAroundThem) {
    // '|' stands for the entry marker byte 4.
    struct Case {
        const char* section;
        uint32_t attr;
        bool found;
        const char* text;
    };
    const Case cases[] = {
        {"|102|doc", 102, true, "doc"},
        {"|102||103|web", 102, true, ""},
        {"|102||103|web", 103, true, "web"},
        {"|102|one|102|two", 102, true, "one"},  // the first entry counts
        {"|102|", 10, false, ""},                // no prefix match
        {"|102", 102, false, ""},                // the marker is never closed
        {"102|", 102, false, ""},
        {"|", 102, false, ""},
        {"|||", 102, false, ""},
        {"junk|||103|x|", 103, true, "x"},  // stray markers before the entry
        {"", 102, false, ""},
    };
    for (const Case& c : cases) {
        std::string marked = c.section;
        for (char& ch : marked)
            if (ch == '|') ch = '\4';
        ZTStr section;
        section.assign(marked.c_str());
        uint32_t start = 99, length = 99, text = 99;
        ASSERT_EQ(ZTRecord::findAttr(section, c.attr, &start, &length, &text), c.found)
            << c.section;
        if (!c.found) continue;
        EXPECT_EQ(std::string(section.text + text, start + length - text), c.text) << c.section;
    }
    ZTStr key;
    EXPECT_STREQ(ZTRecord::formatAttrKey(219, &key)->text, "\004219\004");
}

TEST(RecordAttr, OwnAttributesComeBeforeTheFieldsAndEachModeLooksOnlyWhereItSays) {
    AttrDatabase db;
    ZTRecord r(&db.file, nullptr, nullptr, nullptr);
    db.oneValue(r, AttrDatabase::kMail, withAttrs("x", {{104, "own"}, {102, ""}}));
    ZTStr out;
    EXPECT_TRUE(r.getValueAttr(0, 104, &out, ZTRecord::kAttrOwn | ZTRecord::kAttrOfField));
    EXPECT_STREQ(out.text, "own");
    EXPECT_TRUE(r.getValueAttr(0, 104, &out, ZTRecord::kAttrOfField));
    EXPECT_STREQ(out.text, "1");
    EXPECT_TRUE(r.hasOwnAttr(0, 102));
    EXPECT_FALSE(r.hasValueAttr(0, 102, ZTRecord::kAttrOfField));
    EXPECT_FALSE(r.hasValueAttr(0, 103, ZTRecord::kAttrOwn | ZTRecord::kAttrOfField));
    EXPECT_FALSE(r.getValueAttr(0, 103, &out, 3));
    EXPECT_STREQ(out.text, "");

    // Out of range: nothing, and the range code.
    r.setLastResult(0);
    EXPECT_FALSE(r.hasOwnAttr(1, 104));
    EXPECT_EQ(r.getLastResult(), ZTRecord::kErrorRange);
    r.setLastResult(0);
    EXPECT_FALSE(r.getValueAttr(5, 104, &out, 3));
    EXPECT_EQ(r.getLastResult(), ZTRecord::kErrorRange);
    ZTRecord unbound;
    EXPECT_FALSE(unbound.hasValueAttr(0, 104, 3));
    EXPECT_EQ(unbound.getValueKind(0), 0);
    EXPECT_EQ(unbound.getLastResult(), ZTRecord::kErrorRange);
}

// ---- display kinds ----

TEST(RecordDisplay, KindsFollowAttributesThenLinksThenTheTextsForm) {
    PdfOpener opener;
    DateOrderPin order(false);
    AttrDatabase db;
    struct Case {
        uint32_t field;
        std::string text;
        int kind;
    };
    const Case cases[] = {
        {kNotes, "www.x", ZTRecord::kKindWebAddress},
        {kNotes, "http://x", ZTRecord::kKindWebAddress},
        {kNotes, "a@b.c", ZTRecord::kKindMailAddress},
        {kNotes, "@b.c", ZTRecord::kKindText},
        {kNotes, "a@.c", ZTRecord::kKindText},
        {kNotes, "a@b.", ZTRecord::kKindText},
        {kNotes, "a@.b.c", ZTRecord::kKindMailAddress},  // a later '.' still counts
        {kNotes, "hello", ZTRecord::kKindText},
        {kNotes, "", ZTRecord::kKindText},
        {kNotes, "123456789002", ZTRecord::kKindCheckNumber},
        {kNotes, "123456789003", ZTRecord::kKindNumber},
        {kNotes, "2024/03/05", ZTRecord::kKindDate},
        {kNotes, "-12.5", ZTRecord::kKindNumber},
        {kNotes, "report.pdf", ZTRecord::kKindDocument},
        {kNotes, "report.odt", ZTRecord::kKindText},
        // The form of the head decides, not the attribute section.
        {kNotes, withAttrs("www.x", {{1, "2024/03/05"}}), ZTRecord::kKindWebAddress},
        {kNotes, withAttrs("42", {{1, "x"}}), ZTRecord::kKindNumber},
        {AttrDatabase::kMail, "plain words", ZTRecord::kKindMailAddress},
        {AttrDatabase::kMail, "12", ZTRecord::kKindMailAddress},
        {AttrDatabase::kMail, withAttrs("x", {{102, ""}}), ZTRecord::kKindDocument},
        {kNotes, withAttrs("x", {{103, ""}, {104, ""}}), ZTRecord::kKindWebAddress},
        {kNotes, withAttrs("a@b.c", {{103, ""}}), ZTRecord::kKindWebAddress},
    };
    for (const Case& c : cases) {
        ZTRecord r(&db.file, nullptr, nullptr, nullptr);
        db.oneValue(r, c.field, c.text);
        EXPECT_EQ(r.getValueKind(0), c.kind) << c.text;
        EXPECT_EQ(r.classifyText(c.text.c_str()) == ZTRecord::kKindDate,
                  c.kind == ZTRecord::kKindDate)
            << c.text;
    }
}

TEST(RecordDisplay, AKindIsKeptUntilTheTextOrTheFieldChanges) {
    AttrDatabase db;
    ZTRecord r(&db.file, nullptr, nullptr, nullptr);
    r.read(kAnn);
    ASSERT_STREQ(r.getText(2), "a");
    EXPECT_EQ(r.getValueKind(2), ZTRecord::kKindText);
    ASSERT_TRUE(r.setText(2, "www.example"));
    EXPECT_EQ(r.getValueKind(2), ZTRecord::kKindWebAddress);
    ASSERT_TRUE(r.setText(2, "a"));
    ASSERT_FALSE(r.isModified());

    // The field gains attribute 104 in another image: its notice makes the kind fresh.
    ZTRecord field(&db.file, nullptr, nullptr, nullptr);
    field.read(kNotes);
    const int at = field.insertValue(ZTRecord::kNoIndex, ZTRecord::kAttrMailAddress, 3);
    ASSERT_GE(at, 0);
    ASSERT_TRUE(field.setText(uint32_t(at), "1"));
    ZTRefreshInfo ri;
    ASSERT_EQ(field.write(&ri), 1);
    EXPECT_EQ(r.getValueKind(2), ZTRecord::kKindText);  // kept until told
    r.dispatchRefresh(&ri, nullptr);
    EXPECT_EQ(r.getValueKind(2), ZTRecord::kKindMailAddress);
}

TEST(RecordDisplay, ALinkValueIsKindOne) {
    LinkedPlace db;
    ZTRecord r(&db.file, nullptr, nullptr, nullptr);
    r.read(LinkedPlace::kVisitor);
    ASSERT_EQ(r.getTypeID(1), kTown);
    ASSERT_STREQ(r.getText(1), "Paris");
    EXPECT_EQ(r.getValueKind(1), ZTRecord::kKindLink);
    EXPECT_EQ(r.getValueKind(0), ZTRecord::kKindText);
}

TEST(RecordDisplay, DisplayTextsShowTheHeadAndDatesInTheUsersOrder) {
    AttrDatabase db;
    ZTRecord r(&db.file, nullptr, nullptr, nullptr);
    ZTStr out;
    {
        DateOrderPin order(true);
        db.oneValue(r, kNotes, withAttrs("2024/03/05", {{1, "x"}}));
        EXPECT_STREQ(r.getDisplayText(0, &out, false)->text, "2024/03/05");
        EXPECT_STREQ(r.getDisplayText(0, &out, true)->text, "05/03/2024");
    }
    {
        DateOrderPin order(false);
        db.oneValue(r, kNotes, "2024/03/05 14:30");
        EXPECT_STREQ(r.getDisplayText(0, &out, true)->text, "03/05/2024 14:30");
        db.oneValue(r, kNotes, withAttrs("42", {{104, ""}}));
        EXPECT_STREQ(r.getDisplayText(0, &out, true)->text, "42");
    }
    r.setLastResult(0);
    EXPECT_STREQ(r.getDisplayText(3, &out, true)->text, "");
    EXPECT_EQ(r.getLastResult(), ZTRecord::kErrorRange);
}

// ---- choice texts and the summary ----

TEST(RecordChoice, LabelsAreChosenByTheBitsOfTheNumber) {
    AttrDatabase db;
    struct Case {
        uint32_t field;
        const char* text;
        bool withLabels;
        const char* shown;
    };
    std::string all32;
    for (int k = 0; k < 32; ++k) all32 += (k ? ", M" : "M") + std::to_string(k);
    const Case cases[] = {
        {AttrDatabase::kFlags, "5", true, "L1, L3"},
        {AttrDatabase::kFlags, "5", false, "5"},
        {AttrDatabase::kFlags, "0", true, ""},
        {AttrDatabase::kFlags, "8", true, ""},  // no fourth label
        {AttrDatabase::kFlags, "words", true, ""},
        {AttrDatabase::kChoice, "0", true, "L2"},  // the default number 2
        {AttrDatabase::kChoice, "1", true, "L1"},
        {AttrDatabase::kChoice, "", true, "L2"},
        {AttrDatabase::kHidden, "3", true, ""},
        {AttrDatabase::kHidden, "3", false, "3"},
        {AttrDatabase::kMany, "4294967295", true, all32.c_str()},
        {AttrDatabase::kMany, "2147483648", true, "M31"},
        {AttrDatabase::kGaps, "3", true, "A, B"},
        {kNotes, "plain", true, "plain"},
    };
    for (const Case& c : cases) {
        ZTRecord r(&db.file, nullptr, nullptr, nullptr);
        db.oneValue(r, c.field, withAttrs(c.text, {{1, "own"}}));
        ZTStr out;
        EXPECT_STREQ(r.getChoiceText(0, &out, c.withLabels)->text, c.shown)
            << c.field << " " << c.text;
    }
}

TEST(RecordChoice, TheSummaryJoinsTheFirstTextsThatShow) {
    AttrDatabase db;
    ZTSet people = db.people();
    ZTRecord r(&db.file, &people, nullptr, nullptr);
    r.clear();  // Name and Town placeholders
    ASSERT_TRUE(r.setText(1, "Oslo"));
    for (auto [field, text] : {std::pair{AttrDatabase::kFlags, "2"},
                               {AttrDatabase::kHidden, "1"},
                               {AttrDatabase::kMany, "1"}}) {
        const int at = r.insertValue(ZTRecord::kNoIndex, field, 3);
        ASSERT_GE(at, 0);
        ASSERT_TRUE(r.setText(uint32_t(at), text));
    }
    ZTStr out;
    EXPECT_STREQ(r.getSummary(&out, 2)->text, "Oslo, L2");
    EXPECT_STREQ(r.getSummary(&out, 9)->text, "Oslo, L2, M0");
    EXPECT_STREQ(r.getSummary(&out, 0)->text, "");
}

// ---- titles ----

// Card 1600 is in no set. Set Cards (1150) lists Town, then Name; set Zones (1160) lists Zone.
// A record names its own set through a field-36 link to the set's name.
struct TitleDatabase : AttrDatabase {
    static constexpr uint32_t kCards = 1150;
    static constexpr uint32_t kZones = 1160;
    static constexpr uint32_t kCard = 1600;
    uint32_t cardsName = 0, zonesName = 0;

    TitleDatabase() {
        cardsName = addValue(file, kCards, 9, 1, "Cards");
        addLink(file, kCards, 1, 1, nameValue[2]);
        addLink(file, kCards, 1, 2, nameValue[1]);
        zonesName = addValue(file, kZones, 9, 1, "Zones");
        addLink(file, kZones, 1, 1, nameValue[5]);
    }
    void linkCardTo(uint32_t setName) {
        EXPECT_TRUE(file.deleteValues(kCard, ZTRecord::kFieldSetLink, nullptr));
        EXPECT_TRUE(addLink(file, kCard, ZTRecord::kFieldSetLink, 1, setName));
    }
    void setTemplate(const char* text) {
        EXPECT_TRUE(file.deleteValues(kCards, ZTRecord::kFieldTitleTemplate, nullptr));
        if (text) addValue(file, kCards, ZTRecord::kFieldTitleTemplate, 1, text);
    }
    std::string titleOf(uint32_t record) {
        ZTRecord r(&file, nullptr, nullptr, nullptr);
        r.read(record);
        ZTStr out;
        return r.computeTitle(&out)->text;
    }
};

TEST(RecordTitle, TemplatesPutEachNamedFieldsFirstValueInPlace) {
    TitleDatabase db;
    db.linkCardTo(db.cardsName);
    addValue(db.file, TitleDatabase::kCard, kName, 1, "Smith");
    addValue(db.file, TitleDatabase::kCard, kNotes, 1, "first");
    addValue(db.file, TitleDatabase::kCard, kNotes, 2, "second");
    struct Case {
        const char* tmpl;
        const char* title;
    };
    const Case cases[] = {
        {"=(Name), (Town)", "Smith, "},
        {"=(NAME) - (notes)!", "Smith - first!"},
        {"=Dear (Name", "Dear "},  // an unclosed name ends the title
        {"=(Nobody)x()y", "xy"},
        {"=", ""},
        {"=plain", "plain"},
    };
    for (const Case& c : cases) {
        db.setTemplate(c.tmpl);
        EXPECT_EQ(db.titleOf(TitleDatabase::kCard), c.title) << c.tmpl;
    }
    addValue(db.file, TitleDatabase::kCard, kTown, 1, "Paris");
    db.setTemplate("=(Name), (Town)");
    EXPECT_EQ(db.titleOf(TitleDatabase::kCard), "Smith, Paris");
    // A template that is no template: the first user field with a text.
    db.setTemplate("Name");
    EXPECT_EQ(db.titleOf(TitleDatabase::kCard), "Smith");
}

TEST(RecordTitle, WithoutATemplateItsSetThenTheBestSetThenTheFirstUserFieldThatShows) {
    TitleDatabase db;
    const uint32_t card = TitleDatabase::kCard;
    // Texts that show nothing are passed over.
    addValue(db.file, card, AttrDatabase::kFlags, 1, "0");
    addValue(db.file, card, AttrDatabase::kHidden, 1, "1");
    addValue(db.file, card, AttrDatabase::kMany, 1, "1");
    EXPECT_EQ(db.titleOf(card), "M0");
    addValue(db.file, card, kName, 1, "Smith");
    addValue(db.file, card, kTown, 1, "Paris");
    EXPECT_EQ(db.titleOf(card), "Smith");

    // The best set of a member (Cards: Town first).
    ASSERT_TRUE(db.file.addToSet(card, TitleDatabase::kCards, true));
    EXPECT_EQ(db.titleOf(card), "Paris");
    // Its own set comes first: People lists Name first.
    db.linkCardTo(atomtest::rowsOf(db.file, kPeople, 9).at(0).value);
    EXPECT_EQ(db.titleOf(card), "Smith");
    ZTRecord r(&db.file, nullptr, nullptr, nullptr);
    r.read(card);
    EXPECT_EQ(r.getSetID(), kPeople);
    // Its own set's fields hold nothing: the best set again.
    db.linkCardTo(db.zonesName);
    EXPECT_EQ(db.titleOf(card), "Paris");

    // Choice labels show in a title; a new record has no best set.
    ZTRecord other(&db.file, nullptr, nullptr, nullptr);
    other.clear(true);
    const int at = other.insertValue(ZTRecord::kNoIndex, AttrDatabase::kFlags, 3);
    ASSERT_TRUE(other.setText(uint32_t(at), "6"));
    ZTStr title;
    EXPECT_STREQ(other.computeTitle(&title)->text, "L2, L3");
    EXPECT_EQ(other.getSetID(), 0u);
}

TEST(RecordTitle, ASetLinkThatIsPlainTextNamesNoSet) {
    TitleDatabase db;
    addValue(db.file, TitleDatabase::kCard, ZTRecord::kFieldSetLink, 1, "1150");
    addValue(db.file, TitleDatabase::kCard, kNotes, 1, "note");
    ZTRecord r(&db.file, nullptr, nullptr, nullptr);
    r.read(TitleDatabase::kCard);
    EXPECT_EQ(r.getSetID(), 0u);
    EXPECT_EQ(db.titleOf(TitleDatabase::kCard), "note");
}

TEST(RecordTitle, TheTitleOptionKeepsFieldThirtyFourUpToDate) {
    TitleDatabase db;
    ZTSet people = db.people();
    ZTRecord r(&db.file, &people, nullptr, nullptr);
    r.read(kAnn);
    r.setOptions(ZTRecord::kOptionTitle);
    ASSERT_TRUE(r.setText(0, "Anne"));
    ASSERT_EQ(r.write(nullptr), 1);
    EXPECT_EQ(atomtest::ownTextsOf(db.file, kAnn, ZTRecord::kFieldTitle), (Texts{"Anne"}));
    ASSERT_TRUE(r.setText(0, "Annie"));
    ASSERT_EQ(r.write(nullptr), 1);
    EXPECT_EQ(atomtest::ownTextsOf(db.file, kAnn, ZTRecord::kFieldTitle), (Texts{"Annie"}));
    EXPECT_TRUE(sameList(db.people(), people));  // the set's field list is untouched
    expectSound(db);

    // An empty title adds no value.
    ZTRecord empty(&db.file, nullptr, nullptr, nullptr);
    empty.clear(true);
    EXPECT_TRUE(empty.setTitle(""));
    EXPECT_EQ(empty.getValueCount(), 0u);
    ZTStr out;
    EXPECT_TRUE(empty.updateTitle(&out));
    EXPECT_EQ(empty.getValueCount(), 0u);
}

// ---- stamps ----

bool isStamp(const std::string& text, ZTFile& file) {
    return file.guessValueType(text.c_str()) == kValueDate && text.size() == 19;
}

TEST(RecordStamp, ANewRecordGetsBothStampsAChangedOneOnlyTheModification) {
    AttrDatabase db;
    ZTSet people = db.people();
    for (uint32_t options : {ZTRecord::kOptionCreatedStamp | ZTRecord::kOptionModifiedStamp,
                             ZTRecord::kOptionCreatedStamp}) {
        ZTRecord r(&db.file, &people, nullptr, nullptr);
        r.clear();
        r.setOptions(options);
        ASSERT_TRUE(r.setText(0, "Zoe"));
        ASSERT_EQ(r.write(nullptr), 1);
        const uint32_t zoe = r.getRecordNumber();
        ASSERT_NE(zoe, 0u);
        const Texts created = atomtest::ownTextsOf(db.file, zoe, ZTRecord::kFieldCreated);
        const Texts modified = atomtest::ownTextsOf(db.file, zoe, ZTRecord::kFieldModified);
        ASSERT_EQ(created.size(), 1u) << options;
        EXPECT_TRUE(isStamp(created[0], db.file)) << created[0];
        ASSERT_EQ(modified.size(), options & ZTRecord::kOptionModifiedStamp ? 1u : 0u);
        for (const std::string& m : modified) EXPECT_TRUE(isStamp(m, db.file)) << m;
        // The stamps stay outside the set's field list.
        EXPECT_TRUE(sameList(db.people(), people)) << options;
        EXPECT_TRUE(sameList(r.getStructure(), people)) << options;
    }

    // A stored record that changed: the modification stamp only, in the place a fresh read
    // gives it (before Notes).
    ZTRecord ann(&db.file, &people, nullptr, nullptr);
    ann.read(kAnn);
    ann.setOptions(ZTRecord::kOptionCreatedStamp | ZTRecord::kOptionModifiedStamp);
    EXPECT_EQ(ann.write(nullptr), 0);  // nothing changed: no stamp
    EXPECT_TRUE(atomtest::ownTextsOf(db.file, kAnn, ZTRecord::kFieldModified).empty());
    ASSERT_TRUE(ann.setText(1, "Rome"));
    ASSERT_EQ(ann.write(nullptr), 1);
    EXPECT_TRUE(atomtest::ownTextsOf(db.file, kAnn, ZTRecord::kFieldCreated).empty());
    EXPECT_EQ(atomtest::ownTextsOf(db.file, kAnn, ZTRecord::kFieldModified).size(), 1u);
    ZTRecord fresh(&db.file, &people, nullptr, nullptr);
    fresh.read(kAnn);
    EXPECT_EQ(typesOf(ann), (std::vector<uint32_t>{kName, kTown, 39, kNotes, kNotes}));
    EXPECT_EQ(typesOf(ann), typesOf(fresh));
    ASSERT_TRUE(ann.setText(1, "Oslo"));
    ASSERT_EQ(ann.write(nullptr), 1);
    EXPECT_EQ(atomtest::ownTextsOf(db.file, kAnn, ZTRecord::kFieldModified).size(), 1u);
    EXPECT_TRUE(sameList(db.people(), people));
    expectSound(db);
}

TEST(RecordStamp, OnlyDatesAreTakenAndNothingChangesOtherwise) {
    DateOrderPin order(false);
    AttrDatabase db;
    ZTRecord r(&db.file, nullptr, nullptr, nullptr);
    r.read(kAnn);
    const Texts before = textsOf(r);
    for (const char* bad : {"", "yesterday", "42", "2024/13/45", "(",
                            "\x1b"
                            "a\4"
                            "1\4"}) {
        EXPECT_FALSE(r.stampModified(bad)) << bad;
        EXPECT_FALSE(r.stampCreated(bad)) << bad;
    }
    EXPECT_EQ(textsOf(r), before);
    EXPECT_FALSE(r.isModified());

    ASSERT_TRUE(r.stampCreated("2020/01/02 03:04:05"));
    ASSERT_TRUE(r.stampCreated("2021/01/02"));  // the same value again, not a second one
    int at = -1;
    ZTRecord* holder = nullptr;
    ASSERT_TRUE(r.findOrAddValue(ZTRecord::kFieldCreated, &holder, &at, true));
    EXPECT_EQ(holder, &r);
    EXPECT_STREQ(r.getText(uint32_t(at)), "2021/01/02");
    EXPECT_EQ(r.getValueCount(), before.size() + 1);
    EXPECT_FALSE(r.findOrAddValue(ZTRecord::kFieldModified, nullptr, &at, true));
    EXPECT_EQ(at, -1);
    EXPECT_EQ(r.getValueCount(), before.size() + 1);
}

TEST(RecordStamp, ALongRecordKeepsOneStampPastTheViewLimit) {
    AttrDatabase db;
    constexpr uint32_t kLong = 1700;
    ASSERT_TRUE(db.file.lock(false));
    for (uint32_t n = 1; n <= 600; ++n) addValue(db.file, kLong, kName, n, "n" + std::to_string(n));
    addValue(db.file, kLong, ZTRecord::kFieldModified, 1, "2000/01/01 00:00:00");
    ASSERT_TRUE(db.file.unlock());
    ZTSet people = db.people();
    for (int round = 0; round < 2; ++round) {
        ZTRecord view(&db.file, &people, nullptr, nullptr);
        view.read(kLong);
        view.setOptions(ZTRecord::kOptionModifiedStamp);
        ASSERT_TRUE(view.setText(0, ("round " + std::to_string(round)).c_str()));
        ASSERT_EQ(view.write(nullptr), 1) << view.getLastResult();
        const Texts stamps = atomtest::ownTextsOf(db.file, kLong, ZTRecord::kFieldModified);
        ASSERT_EQ(stamps.size(), 1u);
        EXPECT_NE(stamps[0], "2000/01/01 00:00:00");
    }
    EXPECT_EQ(atomtest::ownTextsOf(db.file, kLong, kName).size(), 600u);
    expectSound(db);
}

}  // namespace
