#include "ztdb/ztfilter.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <string_view>

namespace {

bool isSeparator(char c) {
    return c == '&' || c == '+' || c == '-';
}

bool isPrefix(char c) {
    return c == '#' || c == '*' || c == '<' || c == '>';
}

// "-#": the record has a value of the field. It holds like an '&' word on any value.
bool isPresenceWord(const ZTFilterKey& key) {
    return key.joiner == '-' && key.prefix == '#';
}

// Words that must hold on some value of the record.
bool isMustWord(const ZTFilterKey& key) {
    return key.joiner == '&' || isPresenceWord(key);
}

// Stack room for the key of a value under test; longer values take a buffer of their own.
constexpr size_t kValueKeyRoom = 500;

}  // namespace

CFilterElem::CFilterElem(uint32_t fieldID, const ZTKeyLengths& lengths)
    : fieldID(fieldID), lengths(lengths) {
    keyStore_.emplace_back(new char[2 * (size_t(lengths.lenKey) + 1)]());
    highTextKey = keyStore_.back().get();
    highNumberKey = highTextKey + lengths.lenKey + 1;
    CFilterElem::clear();
}

char* CFilterElem::newKeyPair() {
    keyStore_.emplace_back(new char[2 * (size_t(lengths.lenKey) + 1)]());
    return keyStore_.back().get();
}

void CFilterElem::clear() {
    ZTArray<ZTFilterKey>::clear();
    keyStore_.resize(1);  // the first pair holds the upper range keys
    condition.clear();
    notCount = hashCount = starCount = 0;
    hasQuoted = all = matched = decided = false;
    lowText = highText = lowNumber = highNumber = kNoBound;
    lowTextByAnd_ = lowNumberByAnd_ = highTextByAnd_ = highNumberByAnd_ = false;
    makeKey(lengths, "", highTextKey, true, true, true, true);
    std::memcpy(highNumberKey, highTextKey, size_t(lengths.lenKey) + 1);
    lowTextWord.clear();
    lowNumberWord.clear();
    highTextWord.clear();
}

void CFilterElem::parse(const char* text) {
    std::string copy = text ? text : "";  // text may be our own condition
    clear();
    condition.assign(copy.c_str());
    all = condition.length >= 2 && condition.text[0] == '*' && condition.text[1] == '*';
    if (all) lowText = highText = lowNumber = highNumber = kOpen;

    const char* s = condition.text;
    uint32_t n = condition.length;
    int joiner = 0;  // the separator before the word; 0 for the first word
    for (uint32_t pos = 0;;) {
        int prefix = 0;
        uint32_t start = pos;
        bool prefixSeen = false, quoted = false;
        uint32_t p = pos;
        for (; p < n; ++p) {
            char c = s[p];
            if (c == '"') {
                quoted = !quoted;
            } else if (quoted) {
                continue;
            } else if (isSeparator(c)) {
                break;
            } else if (isPrefix(c)) {
                prefix = c;
                if (!prefixSeen) start = p + 1;
                prefixSeen = true;
            }
        }
        int separator = p < n ? s[p] : 0;
        addWord(start, p, prefix, joiner ? joiner : (separator == '&' ? '&' : '+'));
        if (p >= n) break;
        joiner = separator;
        pos = p + 1;
    }
}

void CFilterElem::setExact(const char* value) {
    std::string copy = value ? value : "";  // value may be our own condition
    clear();
    condition.assign(copy.c_str());
    if (condition.length == 0) return;
    ZTFilterKey key{};
    key.joiner = '+';  // as a lone quoted word parses
    key.textKey = newKeyPair();
    key.numericKey = key.textKey + lengths.lenKey + 1;
    makeKey(lengths, condition.text, key.textKey, true, true, false, true);
    if (guessValueType(lengths, condition.text) != kValueText)
        makeKey(lengths, condition.text, key.numericKey, true, true, false, false);
    key.quoteOffset = 0;
    key.quoteLength = condition.length;
    hasQuoted = true;
    add(key, true);
    noteBounds(0, condition.text);
}

void CFilterElem::addWord(uint32_t start, uint32_t end, int prefix, int joiner) {
    if (start == end && prefix != '#') return;
    std::string word(condition.text + start, end - start);
    ZTFilterKey key{};
    key.joiner = joiner;
    key.prefix = prefix;
    key.textKey = newKeyPair();
    key.numericKey = key.textKey + lengths.lenKey + 1;
    if (prefix == '#') {
        if (joiner != '-') ++hashCount;
        add(key, true);
        return;
    }
    bool high = prefix == '<';
    makeKey(lengths, word.c_str(), key.textKey, true, true, high, true);
    if (guessValueType(lengths, word.c_str()) != kValueText)
        makeKey(lengths, word.c_str(), key.numericKey, true, true, high, false);
    if (word[0] == '"') {
        key.quoteOffset = start + 1;
        const char* close = static_cast<const char*>(
            std::memchr(condition.text + key.quoteOffset, '"', end - key.quoteOffset));
        key.quoteLength =
            close ? uint32_t(close - (condition.text + key.quoteOffset)) : end - key.quoteOffset;
        if (key.quoteLength) hasQuoted = true;
    }
    if (prefix == '*') ++starCount;
    if (joiner == '-') ++notCount;
    add(key, true);
    if (joiner != '-') noteBounds(int32_t(size - 1), word.c_str());
}

namespace {

// One end of the range for one kind of key. A '*' word, and a '<' word at the lower end or a
// '>' word at the upper end, open it unless an '&' word that bounds this end ('&>' below, '&<'
// above) has set it; while open, only such a word closes it again. Otherwise a word becomes the
// bound when there is none, when it is the first bounding '&' word, or when it reaches further.
enum class EndChange { none, opened, taken };

EndChange settleEnd(int32_t& bound, bool& byAnd, int32_t index, bool opens, bool bounding,
                    bool further) {
    if (opens) {
        if (byAnd) return EndChange::none;
        bound = CFilterElem::kOpen;
        return EndChange::opened;
    }
    bool take = bound == CFilterElem::kOpen
                    ? bounding
                    : bound == CFilterElem::kNoBound || (bounding && !byAnd) || further;
    if (!take) return EndChange::none;
    bound = index;
    if (bounding) byAnd = true;
    return EndChange::taken;
}

}  // namespace

void CFilterElem::noteBounds(int32_t index, const char* word) {
    const ZTFilterKey& key = data[index];
    size_t len = size_t(lengths.lenKey);
    bool star = key.prefix == '*';
    bool hasNumber = key.numericKey[0] != 0;
    auto lowerThan = [&](int32_t bound, bool numeric) {
        if (bound < 0) return false;
        const ZTFilterKey& present = data[bound];
        return numeric ? std::memcmp(key.numericKey, present.numericKey, len) < 0
                       : std::memcmp(key.textKey, present.textKey, len) < 0;
    };

    // Lower end. The numeric ends follow the words that have a number or date key only: a
    // condition without one leaves them unset, and its ranges use the text keys.
    bool lowOpens = star || key.prefix == '<';
    bool lowBounding = key.joiner == '&' && key.prefix == '>';
    EndChange change =
        settleEnd(lowText, lowTextByAnd_, index, lowOpens, lowBounding, lowerThan(lowText, false));
    if (change == EndChange::opened) lowTextWord.clear();
    if (change == EndChange::taken) lowTextWord.assign(word);
    if (hasNumber) {
        change = settleEnd(lowNumber, lowNumberByAnd_, index, lowOpens, lowBounding,
                           lowerThan(lowNumber, true));
        if (change == EndChange::opened) lowNumberWord.clear();
        if (change == EndChange::taken) lowNumberWord.assign(word);
    }

    // Upper end, compared on the word's upper key.
    std::unique_ptr<char[]> highKeys(new char[2 * (len + 1)]());
    char* textHigh = highKeys.get();
    char* numberHigh = textHigh + len + 1;
    makeKey(lengths, word, textHigh, true, true, true, true);
    if (hasNumber) makeKey(lengths, word, numberHigh, true, true, true, false);
    bool highOpens = star || key.prefix == '>';
    bool highBounding = key.joiner == '&' && key.prefix == '<';
    change = settleEnd(highText, highTextByAnd_, index, highOpens, highBounding,
                       highText >= 0 && std::memcmp(textHigh, highTextKey, len) > 0);
    if (change != EndChange::none) {
        highTextWord.assign(change == EndChange::taken ? word : "");
        if (change == EndChange::opened) makeKey(lengths, "", textHigh, true, true, true, true);
        std::memcpy(highTextKey, textHigh, len + 1);
    }
    if (hasNumber) {
        change = settleEnd(highNumber, highNumberByAnd_, index, highOpens, highBounding,
                           highNumber >= 0 && std::memcmp(numberHigh, highNumberKey, len) > 0);
        if (change == EndChange::opened) makeKey(lengths, "", numberHigh, true, true, true, true);
        if (change != EndChange::none) std::memcpy(highNumberKey, numberHigh, len + 1);
    }
}

void CFilterElem::reset() {
    matched = notCount + hashCount == int32_t(size);
    decided = false;
    for (uint32_t i = 0; i < size; ++i) data[i].seen = 0;
}

bool CFilterElem::keyHolds(const ZTFilterKey& key, const char* valueKey,
                           const ZTKeyLengths& valueLengths) const {
    if (isNumericKey(valueKey)) {
        // Numbers sort before every text: a text word bounds them only from above.
        if (!key.numericKey[0]) return key.prefix == '<';
        return matchKeyPattern(lengths, valueKey, key.numericKey, key.prefix);
    }
    // Bounds compare the keys as stored; word tests walk the whole coded text.
    if (key.prefix == '<' || key.prefix == '>')
        return matchKeyPattern(lengths, valueKey, key.textKey, key.prefix);
    return matchKeyPattern(valueLengths, valueKey, key.textKey, key.prefix);
}

bool CFilterElem::quoteHolds(const ZTFilterKey& key, const char* text) const {
    if (!key.quoteLength || (key.prefix != 0 && key.prefix != '*')) return true;
    if (!text) return false;
    std::string_view quoted(condition.text + key.quoteOffset, key.quoteLength);
    std::string_view value(text);
    return key.prefix == 0 ? value == quoted : value.find(quoted) != std::string_view::npos;
}

bool CFilterElem::allMustWordsSeen() const {
    for (uint32_t i = 0; i < size; ++i)
        if (isMustWord(data[i]) && !data[i].seen) return false;
    return true;
}

bool CFilterElem::test(const char* value, bool perValue, bool encode) {
    if (size == 0) {
        matched = decided = true;
        return true;
    }
    if (hashCount) {  // "#": the caller answers from the absence of values
        matched = false;
        decided = true;
        return false;
    }
    if (decided) return matched;

    // The value's key codes its whole text, so a word is found however far in it stands.
    const char* text = encode ? (value ? value : "") : nullptr;
    const char* valueKey = value;
    ZTKeyLengths valueLengths = lengths;
    char room[kValueKeyRoom];
    std::unique_ptr<char[]> longKey;
    if (encode) {
        size_t keyLength = std::max(std::strlen(text) + 4, size_t(lengths.lenKey));
        keyLength = std::min(keyLength, size_t(INT_MAX - 1));
        char* buffer = room;
        if (keyLength + 1 > sizeof room) {  // the key, then its terminating zero
            longKey.reset(new char[keyLength + 1]);
            buffer = longKey.get();
        }
        makeKey(lengths, text, buffer, true, false, false, false, int(keyLength));
        valueKey = buffer;
        if (!isNumericKey(valueKey)) valueLengths.lenKey = int32_t(keyLength);
    } else if (!value) {
        return matched;
    }

    // Words that bound a range must hold together on one value.
    for (uint32_t i = 0; i < size; ++i) {
        ZTFilterKey& key = data[i];
        if (key.joiner == '&' && (perValue || key.prefix == '<' || key.prefix == '>')) key.seen = 0;
    }
    for (uint32_t i = 0; i < size && !decided; ++i) {
        ZTFilterKey& key = data[i];
        bool presence = isPresenceWord(key);
        if (key.joiner == '-' && !presence) {
            if (keyHolds(key, valueKey, valueLengths) && quoteHolds(key, text)) {
                matched = false;
                decided = true;
            }
            continue;
        }
        if (matched) continue;
        if (!presence && !(keyHolds(key, valueKey, valueLengths) && quoteHolds(key, text)))
            continue;
        if (isMustWord(key)) {
            key.seen = 1;
            if (!allMustWordsSeen()) continue;
        }
        matched = true;
        if (notCount == 0) decided = true;
    }
    return matched;
}

void ZTFilter::reset(const ZTKeyLengths& keyLengths) {
    lengths = keyLengths;
    textOnly = false;
    clear();
}

int ZTFilter::findElem(uint32_t fieldID) const {
    for (uint32_t i = size; i-- > 0;)
        if (data[i] && data[i]->fieldID == fieldID) return int(i);
    return -1;
}

CFilterElem* ZTFilter::getElem(uint32_t fieldID) const {
    int i = findElem(fieldID);
    return i < 0 ? nullptr : data[i];
}

void ZTFilter::setCondition(uint32_t fieldID, const char* text) {
    int i = findElem(fieldID);
    if (!text || !*text) {
        if (i >= 0) removeAt(uint32_t(i));
        return;
    }
    if (!ZT_ASSERT(lengths.lenKey > 0)) return;
    CFilterElem* elem = i >= 0 ? data[i] : nullptr;
    if (!elem) {
        elem = new CFilterElem(fieldID, lengths);
        try {
            add(elem, true);
        } catch (...) {
            delete elem;
            throw;
        }
    }
    elem->parse(text);
}

bool ZTFilter::match(uint32_t fieldID, const char* value) {
    CFilterElem* elem = getElem(fieldID);
    if (!elem || elem->size == 0 || elem->all) return true;
    elem->reset();
    return elem->test(value, true, true);
}

bool ZTFilter::isPastBound(uint32_t fieldID, const char* valueKey, int direction) const {
    CFilterElem* elem = getElem(fieldID);
    if (!elem || !valueKey) return false;
    const char* bound = nullptr;
    if (direction >= 0) {
        if (!textOnly && elem->highNumber != CFilterElem::kNoBound)
            bound = elem->highNumber >= 0 ? elem->highNumberKey : nullptr;
        else
            bound = elem->highText >= 0 ? elem->highTextKey : nullptr;
    } else {
        int32_t index =
            !textOnly && elem->lowNumber != CFilterElem::kNoBound ? elem->lowNumber : elem->lowText;
        bool numeric = !textOnly && elem->lowNumber != CFilterElem::kNoBound;
        if (index >= 0) bound = numeric ? elem->data[index].numericKey : elem->data[index].textKey;
    }
    if (!bound) return false;
    int order = std::strncmp(valueKey, bound, size_t(lengths.lenKey));
    return direction >= 0 ? order > 0 : order < 0;
}

const char* ZTFilter::lowBoundText(uint32_t fieldID) const {
    CFilterElem* elem = getElem(fieldID);
    if (!elem) return nullptr;
    bool numeric = !textOnly && elem->lowNumber != CFilterElem::kNoBound;
    return numeric ? elem->lowNumberWord.text : elem->lowTextWord.text;
}

const char* ZTFilter::highBoundText(uint32_t fieldID) const {
    CFilterElem* elem = getElem(fieldID);
    return elem ? elem->highTextWord.text : nullptr;
}

bool ZTFilter::isTrivial() const {
    if (size == 0) return true;
    if (size > 1) return false;
    const CFilterElem* elem = data[0];
    if (!elem || elem->size == 0) return true;
    return elem->size == 1 && elem->data[0].joiner == '+' && elem->data[0].prefix == 0;
}

bool isPlainSearchText(const char* text) {
    return text && *text && *text != '#' && *text != '*' && *text != '-';
}
