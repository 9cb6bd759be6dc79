// The formula compiler: lexing, operators rewritten into call form, and code emission.
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "ztdb/ztfile.h"
#include "ztdb/ztformula.h"

namespace {

// Token codes.
enum : uint32_t {
    kLiteral = 1,
    kLen = 2,
    kName = 3,
    kOpen = 4,
    kClose = 5,
    kMid = 6,
    kConcat = 7,
    kPlus = 8,
    kMinus = 9,
    kDivide = 10,
    kTimes = 11,
    kFind = 12,
    kIf = 13,
    kComma = 14,
    kField = 15,
    kEqual = 16,
    kDiffer = 17,
    kAnd = 18,
    kOr = 19,
    kRound = 20,
    kClean = 21,
    kGreater = 22,
    kLess = 23,
    kFfid = 24,
    kGreaterEqual = 25,
    kLessEqual = 26,
    kDirect = 27,
    kUpper = 28,
    kLower = 29,
    kGetLink = 30,
    kGetVal = 31,
    kLink = 33,
    kFieldOf = 34,
    kFindRecord = 35,
    kAutoLink = 37,
    kArrow = 38,
    kArrowAlone = 39,  // a chain of one arrow
    kArrowFirst = 40,  // the innermost arrow of a longer chain
    kArrowMiddle = 41,
    kArrowLast = 42,  // the outermost arrow of a longer chain
    kDay = 44,
    kMonth = 45,
    kYear = 46,
    kDateToDay = 47,
    kDayToDate = 48,
    kNow = 49,
};

constexpr const char* kCutChars = "/#&()*+,-<=>|";
constexpr const char* kFoldKeep = "/#&()*+,-<=>|.";

struct Keyword {
    const char* word;
    uint32_t code;
};

constexpr Keyword kKeywords[] = {
    {"len", kLen},
    {"mid", kMid},
    {"concat", kConcat},
    {"find", kFind},
    {"pos", kFind},
    {"if", kIf},
    {"field", kField},
    {"round", kRound},
    {"clean", kClean},
    {"ffid", kFfid},
    {"direct", kDirect},
    {"upper", kUpper},
    {"lower", kLower},
    {"getlink", kGetLink},
    {"getval", kGetVal},
    {"link", kLink},
    {"fieldof", kFieldOf},
    {"findrecord", kFindRecord},
    {"autolink", kAutoLink},
    {"day", kDay},
    {"month", kMonth},
    {"year", kYear},
    {"datetoday", kDateToDay},
    {"daytodate", kDayToDate},
    {"now", kNow},
    {"(", kOpen},
    {")", kClose},
    {"+", kPlus},
    {"-", kMinus},
    {"/", kDivide},
    {"*", kTimes},
    {",", kComma},
    {"=", kEqual},
    {"#", kDiffer},
    {"&", kAnd},
    {"|", kOr},
    {">", kGreater},
    {"<", kLess},
};

// Binding of infix operators (smaller binds tighter); 0 for every other token.
int priority(uint32_t code) {
    switch (code) {
        case kArrow:
            return 1;
        case kTimes:
        case kDivide:
            return 2;
        case kPlus:
        case kMinus:
            return 3;
        case kAnd:
        case kOr:
            return 4;
        case kEqual:
        case kDiffer:
        case kLess:
        case kGreater:
        case kLessEqual:
        case kGreaterEqual:
            return 5;
        default:
            return 0;
    }
}
constexpr int kLowestPriority = 5;

struct Tok {
    uint32_t code;
    std::string text;
};

// The lexer's states.
enum LexState { kInString = 1, kPlain = 2, kAfterBackslash = 5, kAfterCut = 6 };

class Lexer {
  public:
    explicit Lexer(std::vector<Tok>* out) : out_(out) {}

    int run(const char* s) {
        for (; *s; ++s) {
            const char c = *s;
            const bool inString = state_ == kInString || state_ == kAfterBackslash;
            if (c == '"') {
                if (state_ == kInString) {
                    flush(true);
                    state_ = kPlain;
                } else if (state_ == kAfterBackslash) {
                    word_ += '"';
                    state_ = kInString;
                } else {
                    flush(false);
                    state_ = kInString;
                }
            } else if (!inString && std::strchr(kCutChars, c)) {
                flush(false);
                word_ = c;
                state_ = kAfterCut;
                if (c == '(' && ++depth_ > ZTTranslator::kMaxDepth)
                    return ZTTranslator::kErrorTooDeep;
                if (c == '(') ++opened_;
                if (c == ')') {
                    ++closed_;
                    if (depth_ > 0) --depth_;
                }
            } else if (c == '\\' && state_ == kInString) {
                state_ = kAfterBackslash;
            } else if (c == '\\' && state_ == kAfterBackslash) {
                word_ += '\\';
                state_ = kInString;
            } else {
                if (state_ == kAfterCut) {
                    flush(false);
                    state_ = kPlain;
                }
                if (state_ == kAfterBackslash) {
                    // An unknown escape keeps its backslash; a cut character stays text.
                    word_ += '\\';
                    state_ = kInString;
                }
                word_ += c;
            }
        }
        if (state_ == kInString || state_ == kAfterBackslash) return ZTTranslator::kErrorOpenString;
        if (opened_ != closed_) return ZTTranslator::kErrorBrackets;
        flush(false);
        joinPairs();
        return ZTTranslator::kOk;
    }

  private:
    void flush(bool literal) {
        if (literal) {
            out_->push_back({kLiteral, word_});
            word_.clear();
            return;
        }
        ZTStr folded;
        folded.assign(word_.c_str());
        word_.clear();
        folded.fold(kFoldKeep);
        if (folded.length == 0) return;
        double unused;
        if (ztformula::readNumber(folded.text, &unused)) {
            out_->push_back({kLiteral, folded.text});
            return;
        }
        for (const Keyword& k : kKeywords) {
            if (std::strcmp(k.word, folded.text) == 0) {
                out_->push_back({k.code, ""});
                return;
            }
        }
        out_->push_back({kName, folded.text});
    }

    // "<=", ">=" and "->" are one operator each.
    void joinPairs() {
        std::vector<Tok> joined;
        joined.reserve(out_->size());
        for (size_t i = 0; i < out_->size(); ++i) {
            const uint32_t a = (*out_)[i].code;
            const uint32_t b = i + 1 < out_->size() ? (*out_)[i + 1].code : 0;
            uint32_t pair = 0;
            if (a == kLess && b == kEqual) pair = kLessEqual;
            if (a == kGreater && b == kEqual) pair = kGreaterEqual;
            if (a == kMinus && b == kGreater) pair = kArrow;
            if (pair) {
                joined.push_back({pair, ""});
                ++i;
            } else {
                joined.push_back(std::move((*out_)[i]));
            }
        }
        out_->swap(joined);
    }

    std::vector<Tok>* out_;
    std::string word_;
    LexState state_ = kPlain;
    uint32_t depth_ = 0;
    uint32_t opened_ = 0;
    uint32_t closed_ = 0;
};

// Rewrites infix operators into call form, op ( left , right ), with left association and the
// priorities above. An operand is the run of tokens up to the next operator, "," or unmatched
// ")"; it may be empty, which the conversion reports. Nesting is bounded by kMaxDepth.
class Rewriter {
  public:
    explicit Rewriter(const std::vector<Tok>& in) : in_(in) {}

    int run(std::vector<Tok>* out) {
        Operand top;
        int r = level(kLowestPriority, &top);
        if (r != ZTTranslator::kOk) return r;
        if (pos_ < in_.size()) {
            // A "," or ")" left over at the top: "a)(b" or "1,2".
            return in_[pos_].code == kComma ? ZTTranslator::kErrorSyntax
                                            : ZTTranslator::kErrorBrackets;
        }
        *out = std::move(top.toks);
        return ZTTranslator::kOk;
    }

  private:
    struct Operand {
        std::vector<Tok> toks;
        uint32_t depth = 0;
        bool arrow = false;  // exactly one arrow call
    };

    bool atOperandEnd() const {
        if (pos_ >= in_.size()) return true;
        const uint32_t c = in_[pos_].code;
        return c == kComma || c == kClose || priority(c) != 0;
    }

    int level(int p, Operand* out) {
        if (p == 0) return operand(out);
        int r = level(p - 1, out);
        while (r == ZTTranslator::kOk && pos_ < in_.size() && priority(in_[pos_].code) == p) {
            Tok op = in_[pos_++];
            Operand right;
            r = level(p - 1, &right);
            if (r != ZTTranslator::kOk) break;
            r = combine(std::move(op), out, &right);
        }
        return r;
    }

    int combine(Tok op, Operand* left, Operand* right) {
        Operand made;
        made.depth = std::max(left->depth, right->depth) + 1;
        if (made.depth > ZTTranslator::kMaxDepth) return ZTTranslator::kErrorTooDeep;
        if (op.code == kArrow) {
            if (left->arrow) {
                uint32_t& inner = left->toks[0].code;
                inner = inner == kArrowAlone ? kArrowFirst : kArrowMiddle;
                op.code = kArrowLast;
            } else {
                op.code = kArrowAlone;
            }
            made.arrow = true;
        }
        made.toks.reserve(left->toks.size() + right->toks.size() + 4);
        made.toks.push_back(std::move(op));
        made.toks.push_back({kOpen, ""});
        for (Tok& t : left->toks) made.toks.push_back(std::move(t));
        made.toks.push_back({kComma, ""});
        for (Tok& t : right->toks) made.toks.push_back(std::move(t));
        made.toks.push_back({kClose, ""});
        *left = std::move(made);
        return ZTTranslator::kOk;
    }

    // A run of plain tokens and bracket groups; the groups' insides are rewritten too.
    int operand(Operand* out) {
        out->toks.clear();
        out->depth = 0;
        out->arrow = false;
        while (!atOperandEnd()) {
            if (in_[pos_].code != kOpen) {
                out->toks.push_back(in_[pos_++]);
                continue;
            }
            ++pos_;
            out->toks.push_back({kOpen, ""});
            uint32_t depth = 0;
            for (;;) {
                Operand part;
                int r = level(kLowestPriority, &part);
                if (r != ZTTranslator::kOk) return r;
                depth = std::max(depth, part.depth);
                for (Tok& t : part.toks) out->toks.push_back(std::move(t));
                if (pos_ >= in_.size()) return ZTTranslator::kErrorBrackets;
                const uint32_t c = in_[pos_++].code;
                out->toks.push_back({c, ""});
                if (c == kClose) break;
            }
            out->depth = std::max(out->depth, depth + 1);
            if (out->depth > ZTTranslator::kMaxDepth) return ZTTranslator::kErrorTooDeep;
        }
        return ZTTranslator::kOk;
    }

    const std::vector<Tok>& in_;
    size_t pos_ = 0;
};

// What a keyword or rewritten operator compiles to: its number of arguments, the opcodes that
// follow given arguments, and its own opcode.
struct CallForm {
    uint32_t code;
    uint32_t arguments;
    char after[3];  // opcodes emitted after argument 1, 2 and 3 (0: none)
    char opcode;    // 0: nothing of its own
};

constexpr CallForm kCallForms[] = {
    {kLen, 1, {0, 0, 0}, 'l'},
    {kMid, 3, {0, 0, 0}, 'm'},
    {kConcat, 2, {0, 0, 0}, 'a'},
    {kPlus, 2, {0, 0, 0}, '+'},
    {kMinus, 2, {0, 0, 0}, '-'},
    {kDivide, 2, {0, 0, 0}, '/'},
    {kTimes, 2, {0, 0, 0}, '*'},
    {kFind, 2, {0, 0, 0}, 'f'},
    {kIf, 3, {0, 0, 0}, 'i'},
    {kField, 1, {'t', 0, 0}, 'v'},
    {kEqual, 2, {0, 0, 0}, '='},
    {kDiffer, 2, {0, 0, 0}, '#'},
    {kAnd, 2, {0, 0, 0}, '&'},
    {kOr, 2, {0, 0, 0}, '|'},
    {kRound, 2, {0, 0, 0}, 'R'},
    {kClean, 1, {0, 0, 0}, 'c'},
    {kGreater, 2, {0, 0, 0}, '>'},
    {kLess, 2, {0, 0, 0}, '<'},
    {kFfid, 1, {0, 0, 0}, 'v'},
    {kGreaterEqual, 2, {0, 0, 0}, '}'},
    {kLessEqual, 2, {0, 0, 0}, '{'},
    {kDirect, 1, {0, 0, 0}, 'I'},
    {kUpper, 1, {0, 0, 0}, 'U'},
    {kLower, 1, {0, 0, 0}, 'u'},
    {kGetLink, 1, {'t', 0, 0}, 'G'},
    {kGetVal, 2, {0, 't', 0}, 'g'},
    {kLink, 2, {0, 't', 0}, 'L'},
    {kFieldOf, 2, {'T', 0, 0}, char(0xA7)},
    {kFindRecord, 3, {'T', 't', 0}, 'F'},
    {kAutoLink, 3, {0, 0, 0}, 'A'},
    {kDay, 1, {0, 0, 0}, 'D'},
    {kMonth, 1, {0, 0, 0}, 'M'},
    {kYear, 1, {0, 0, 0}, 'Y'},
    {kDateToDay, 1, {0, 0, 0}, '['},
    {kDayToDate, 1, {0, 0, 0}, ']'},
    {kNow, 0, {0, 0, 0}, 'N'},
};

const CallForm* callFormOf(uint32_t code) {
    for (const CallForm& f : kCallForms)
        if (f.code == code) return &f;
    return nullptr;
}

bool isArrow(uint32_t code) {
    return code >= kArrowAlone && code <= kArrowLast;
}

}  // namespace

ZTTranslator::ZTTranslator(ZTFile* file) : file_(file) {}

int ZTTranslator::translate(const char* text, const char** code) {
    tokens_.clear();
    code_.clear();
    source_.assign(text);
    if (code) *code = code_.text;
    std::vector<Tok> lexed;
    int r = Lexer(&lexed).run(source_.text);
    std::vector<Tok> rewritten;
    if (r == kOk) r = Rewriter(lexed).run(&rewritten);
    if (r != kOk) return r;
    for (const Tok& t : rewritten) tokens_.add(new ZTToken(t.code, t.text.c_str()), true);
    r = ZTTokenConverter(file_, &tokens_, &code_).convert();
    if (r != kOk) code_.clear();
    if (code) *code = code_.text;
    return r;
}

ZTTokenConverter::ZTTokenConverter(ZTFile* file, const ZTArrayP<ZTToken*>* tokens, ZTStr* code)
    : file_(file), tokens_(tokens), code_(code) {}

int ZTTokenConverter::convert() {
    next_ = 0;
    code_->clear();
    if (tokens_->size == 0) return ZTTranslator::kOk;
    int r = expression(0);
    if (r == ZTTranslator::kOk && next_ < tokens_->size) r = ZTTranslator::kErrorTrailing;
    return r;
}

void ZTTokenConverter::emitLiteral(const char* text, uint32_t length) {
    char head[6] = {'s',
                    char('0' + length / 1000),
                    char('0' + length / 100 % 10),
                    char('0' + length / 10 % 10),
                    char('0' + length % 10),
                    0};
    code_->insert(ZTStr::kEnd, head);
    // insert takes zero-terminated text; a literal never holds a zero byte.
    if (length) code_->insert(ZTStr::kEnd, text);
}

int ZTTokenConverter::expect(uint32_t code) {
    if (next_ >= tokens_->size || (*tokens_)[next_]->code != code)
        return ZTTranslator::kErrorSyntax;
    ++next_;
    return ZTTranslator::kOk;
}

int ZTTokenConverter::expression(uint32_t depth) {
    // Nesting was bounded when the operators were rewritten; this guards the recursion anyway.
    if (depth > 2 * ZTTranslator::kMaxDepth + 2) return ZTTranslator::kErrorTooDeep;
    if (next_ >= tokens_->size) return ZTTranslator::kErrorSyntax;
    const ZTToken* t = (*tokens_)[next_];
    switch (t->code) {
        case kLiteral:
            if (t->text.length > ZTTranslator::kMaxLiteral) return ZTTranslator::kErrorTooLong;
            ++next_;
            emitLiteral(t->text.text, t->text.length);
            return ZTTranslator::kOk;
        case kName: {
            const uint32_t id = file_ ? file_->findField(t->text.text) : 0;
            if (id == 0) return ZTTranslator::kErrorUnknownField;
            ++next_;
            ZTStr number;
            number.assignInt(id);
            emitLiteral(number.text, number.length);
            code_->insert(ZTStr::kEnd, 'v');
            return ZTTranslator::kOk;
        }
        case kOpen: {
            ++next_;
            int r = expression(depth + 1);
            return r != ZTTranslator::kOk ? r : expect(kClose);
        }
        default:
            ++next_;
            return call(t->code, depth);
    }
}

int ZTTokenConverter::call(uint32_t code, uint32_t depth) {
    if (int r = expect(kOpen); r != ZTTranslator::kOk) return r;
    auto argumentMissing = [this] {
        return next_ >= tokens_->size || (*tokens_)[next_]->code == kComma ||
               (*tokens_)[next_]->code == kClose;
    };
    if (isArrow(code)) {
        // Both sides are field names (the left one may be the chain so far); they compile to
        // their folded names, joined by points, which the run follows link by link.
        for (int side = 0; side < 2; ++side) {
            if (side == 1 && expect(kComma) != ZTTranslator::kOk) return ZTTranslator::kErrorSyntax;
            if (argumentMissing()) return ZTTranslator::kErrorSyntax;
            const ZTToken* t = (*tokens_)[next_];
            const bool chained = side == 0 && (code == kArrowMiddle || code == kArrowLast);
            if (chained) {
                if (!isArrow(t->code)) return ZTTranslator::kErrorSyntax;
                if (int r = expression(depth + 1); r != ZTTranslator::kOk) return r;
                continue;
            }
            if (t->code != kName) return ZTTranslator::kErrorSyntax;
            if (!file_ || file_->findField(t->text.text) == 0)
                return ZTTranslator::kErrorUnknownField;
            ++next_;
            emitLiteral(t->text.text, t->text.length);
            code_->insert(ZTStr::kEnd, 'c');
        }
        if (int r = expect(kClose); r != ZTTranslator::kOk) return r;
        code_->insert(ZTStr::kEnd, '.');
        if (code == kArrowAlone || code == kArrowLast) code_->insert(ZTStr::kEnd, char(0xB0));
        return ZTTranslator::kOk;
    }
    const CallForm* form = callFormOf(code);
    if (!form) return ZTTranslator::kErrorSyntax;
    for (uint32_t i = 0; i < form->arguments; ++i) {
        if (i > 0 && expect(kComma) != ZTTranslator::kOk) return ZTTranslator::kErrorSyntax;
        if (argumentMissing()) return ZTTranslator::kErrorSyntax;
        if (int r = expression(depth + 1); r != ZTTranslator::kOk) return r;
        if (i < 3 && form->after[i]) code_->insert(ZTStr::kEnd, form->after[i]);
    }
    if (int r = expect(kClose); r != ZTTranslator::kOk) return r;
    code_->insert(ZTStr::kEnd, form->opcode);
    return ZTTranslator::kOk;
}
