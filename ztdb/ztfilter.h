#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "ztdb/ztarray.h"
#include "ztdb/ztkey.h"
#include "ztdb/ztstr.h"

// Search filters: the conditions a search puts on fields, one condition per field.
//
// A condition is a list of words joined by '&' (must hold), '+' (may hold) and '-' (must not
// hold); the first word counts as '&' when an '&' follows it, else as '+'. A word may carry a
// prefix: '<' (up to and including), '>' (from on), '*' (contains), '#' (the field is empty;
// "-#": the field has a value). Text between '"' is plain; a word that begins with '"' is quoted
// and must also equal the quoted text exactly (with '*': contain it). A condition that begins
// with "**" applies to every field of a record.
//
// Every comparison runs on index keys (ztkey.h), so matching ignores case, accents, blanks and
// punctuation as the sort order does. A filter depends only on the key lengths of its database,
// which it keeps by value: a search thread can use it beside its own copy of the database.
// Filters hold no shared state; one filter must not be used by two threads at once.

// One word of a condition. The key buffers belong to the element that holds the word.
struct ZTFilterKey {
    int32_t joiner;        // '&', '+' or '-'
    int32_t prefix;        // 0, '<', '>', '*' or '#'
    uint32_t seen;         // an '&' word held for a value of the record under test
    char* textKey;         // lenKey + 1 bytes: the word's text key, no tail, high for '<'
    char* numericKey;      // lenKey + 1 bytes: its number or date key; first byte 0 when none
    uint32_t quoteOffset;  // offset in the condition of the quoted text (after the '"')
    uint32_t quoteLength;  // length of the quoted text; 0 when the word is not quoted
};

// The condition of one field: its words in condition order, and the index range that holds
// every value the condition can match.
class CFilterElem : public ZTArray<ZTFilterKey> {
  public:
    // Range bound indexes: no bounding word yet / the end is open.
    static constexpr int32_t kNoBound = -1;
    static constexpr int32_t kOpen = -2;

    CFilterElem(uint32_t fieldID, const ZTKeyLengths& lengths);
    CFilterElem(const CFilterElem&) = delete;
    CFilterElem& operator=(const CFilterElem&) = delete;

    ZTStr condition;
    uint32_t fieldID;
    ZTKeyLengths lengths;
    int32_t notCount = 0;   // '-' words but "-#"
    int32_t hashCount = 0;  // '#' words not joined by '-'
    int32_t starCount = 0;  // '*' words
    bool hasQuoted = false;
    bool all = false;  // "**": a condition on every field of the record
    bool matched = false;
    bool decided = false;
    // Words that bound the range (their indexes, kNoBound or kOpen).
    int32_t lowText = kNoBound;
    int32_t highText = kNoBound;
    int32_t lowNumber = kNoBound;
    int32_t highNumber = kNoBound;
    // Upper range keys (lenKey + 1 bytes, built high); all 255 while the end is open or unset.
    char* highTextKey;
    char* highNumberKey;
    ZTStr lowTextWord;
    ZTStr lowNumberWord;
    ZTStr highTextWord;

    // Replaces the words by those of text.
    void parse(const char* text);
    // Replaces the words by one that holds only for a value whose text is exactly value, made
    // without parsing: any byte of value, quotes and operators included, is compared as it is.
    void setExact(const char* value);

    // Starts the test of a record: matched when every word is a '-' or '#' word (a record
    // without values passes them), undecided, no '&' word seen.
    void reset();

    // Tests one more value of the record (after reset). With encode, value is the value's text
    // and its key is built here (the whole text coded); without, value is its stored index key
    // (lenKey bytes, read no further) and quoted words, which need the text, do not hold: a
    // caller whose element hasQuoted passes texts. perValue: every '&' word must hold for this
    // value; otherwise '&' words may hold on different values of the record, but '<' and '>'
    // words only together on one value. Returns matched; decided tells that more values cannot
    // change it.
    bool test(const char* value, bool perValue, bool encode);

    // Words, keys and range back to an empty condition.
    void clear() override;

  private:
    char* newKeyPair();
    void addWord(uint32_t start, uint32_t end, int prefix, int joiner);
    void noteBounds(int32_t index, const char* word);
    bool keyHolds(const ZTFilterKey& key, const char* valueKey,
                  const ZTKeyLengths& valueLengths) const;
    bool quoteHolds(const ZTFilterKey& key, const char* text) const;
    bool allMustWordsSeen() const;

    std::vector<std::unique_ptr<char[]>> keyStore_;
    bool lowTextByAnd_ = false;
    bool lowNumberByAnd_ = false;
    bool highTextByAnd_ = false;
    bool highNumberByAnd_ = false;
};

// The conditions of one search, one element per field, owned.
class ZTFilter : public ZTArrayP<CFilterElem*> {
  public:
    ZTFilter() = default;
    explicit ZTFilter(const ZTKeyLengths& lengths) : lengths(lengths) {}

    ZTKeyLengths lengths{};  // of the database searched
    bool textOnly = false;   // ranges use the text keys even for numbers

    // Takes the database's key lengths, clears textOnly and every condition.
    void reset(const ZTKeyLengths& keyLengths);

    // Index of the field's element (the last one when several), -1 when none.
    int findElem(uint32_t fieldID) const;
    CFilterElem* getElem(uint32_t fieldID) const;

    // An empty or null text removes the field's condition; otherwise it is parsed into the
    // field's element, made and appended when absent.
    void setCondition(uint32_t fieldID, const char* text);

    // Judges one value alone: true without a condition, for a condition without words and for
    // "**"; otherwise every '&' word must hold for this value.
    bool match(uint32_t fieldID, const char* value);

    // Whether a walk over the field's index in direction (0 or more: up, else down) has passed
    // the range of the condition: valueKey (lenKey bytes) compares beyond the bound. False
    // without a condition or a bound.
    bool isPastBound(uint32_t fieldID, const char* valueKey, int direction) const;

    // The words that bound the field's range (empty when open); null without a condition.
    const char* lowBoundText(uint32_t fieldID) const;
    const char* highBoundText(uint32_t fieldID) const;

    // No condition, or a single condition that is one plain word.
    bool isTrivial() const;
};

// A condition that is a plain search for a word: not empty and not beginning with '#', '*' or
// '-'.
bool isPlainSearchText(const char* text);
