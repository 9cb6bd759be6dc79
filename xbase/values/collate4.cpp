#include "xbase/values/collate4.h"

#include <initializer_list>

#include "xbase/core/error4.h"

namespace {

constexpr uint8_t kExpands = 255;
constexpr uint8_t kNoSecondary = 255;
constexpr uint8_t kBlankWeight = 17;
constexpr uint8_t kPrimaryMin = 10;  // primary weights are 10 or more, secondary ones below

// Builds the 512-byte table: primary weights as listed, secondary weights 255 but for the
// plain vowels and a few letters, and the accented letters of 192 to 255.
struct Weights {
    uint8_t w[512];
    constexpr Weights() : w{} {
        constexpr uint8_t primary[256] = {
            // 0
            0x20, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x11, 0x10, 0x10, 0x10, 0x10,
            0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10,
            0x10, 0x10, 0x10, 0x10,
            // 32
            0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x1b, 0x1c, 0x1d, 0x1e,
            0x1f, 0x20, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x5b, 0x5c, 0x5d, 0x5e, 0x5f, 0x21, 0x22,
            0x23, 0x24, 0x25, 0x26,
            // 64
            0x27, 0x60, 0x61, 0x62, 0x64, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x6b, 0x6c, 0x6d, 0x6f,
            0x70, 0x72, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x7a, 0x7b, 0x7c, 0x7d, 0x7e, 0x28,
            0x29, 0x2a, 0x2b, 0x2c,
            // 96
            0x2d, 0x60, 0x61, 0x62, 0x64, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x6b, 0x6c, 0x6d, 0x6f,
            0x70, 0x72, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x7a, 0x7b, 0x7c, 0x7d, 0x7e, 0x2e,
            0x2f, 0x30, 0x31, 0x10,
            // 128
            0x10, 0x10, 0x18, 0x32, 0x13, 0x33, 0x34, 0x35, 0x36, 0x37, 0x76, 0x13, 0xff, 0x10,
            0x10, 0x10, 0x10, 0x18, 0x18, 0x13, 0x13, 0x38, 0x1e, 0x1e, 0x39, 0x3a, 0x76, 0x18,
            0xff, 0x10, 0x10, 0x7d,
            // 160
            0x20, 0x3b, 0x3c, 0x3d, 0x3e, 0x3f, 0x40, 0x41, 0x42, 0x43, 0x44, 0x13, 0x45, 0x1e,
            0x46, 0x47, 0x48, 0x49, 0x58, 0x59, 0x4a, 0x4b, 0x4c, 0x4d, 0x4e, 0x57, 0x4f, 0x13,
            0x50, 0x51, 0x52, 0x53,
            // 192
            0x60, 0x60, 0x60, 0x60, 0x60, 0x60, 0xff, 0x62, 0x66, 0x66, 0x66, 0x66, 0x6a, 0x6a,
            0x6a, 0x6a, 0x65, 0x70, 0x72, 0x72, 0x72, 0x72, 0x72, 0x54, 0x81, 0x78, 0x78, 0x78,
            0x78, 0x7d, 0xff, 0xff,
            // 224
            0x60, 0x60, 0x60, 0x60, 0x60, 0x60, 0xff, 0x62, 0x66, 0x66, 0x66, 0x66, 0x6a, 0x6a,
            0x6a, 0x6a, 0x65, 0x70, 0x72, 0x72, 0x72, 0x72, 0x72, 0x7d, 0x81, 0x78, 0x78, 0x78,
            0x78, 0x7d, 0xff, 0x76};
        constexpr uint8_t accented[2][32] = {
            {2,   1, 3, 5, 4, 6, 1, 7,   2,   1, 3, 4, 2, 1, 3, 4,
             255, 5, 2, 1, 3, 5, 4, 255, 255, 2, 1, 3, 4, 1, 2, 3},
            {2,   1, 3, 5, 4, 6, 1, 7,   2,   1, 3, 4, 2, 1, 3, 4,
             255, 5, 2, 1, 3, 5, 4, 255, 255, 2, 1, 3, 4, 1, 2, 4}};
        for (int c = 0; c < 256; c++) {
            w[c] = primary[c];
            w[256 + c] = kNoSecondary;
        }
        for (const char letter : {'A', 'C', 'E', 'I', 'N', 'O', 'S', 'U', 'Y'}) {
            w[256 + letter] = 0;
            w[256 + letter + 32] = 0;
        }
        w[256 + 138] = 8;
        w[256 + 140] = 0;
        w[256 + 154] = 8;
        w[256 + 156] = 0;
        w[256 + 159] = 4;
        w[256 + 160] = 1;
        for (int i = 0; i < 32; i++) {
            w[256 + 192 + i] = accented[0][i];
            w[256 + 224 + i] = accented[1][i];
        }
    }
};

constexpr Weights kWeights;

// Code page 437 to Windows-1252 for characters 128 to 255; 01 where there is no equivalent.
constexpr uint8_t kCodePage437[128] = {
    0xc7, 0xfc, 0xe9, 0xe2, 0xe4, 0xe0, 0xe5, 0xe7, 0xea, 0xeb, 0xe8, 0xef, 0xee, 0xec, 0xc4, 0xc5,
    0xc9, 0xe6, 0xc6, 0xf4, 0xf6, 0xf2, 0xfb, 0xf9, 0xff, 0xd6, 0xdc, 0x01, 0x01, 0x01, 0x01, 0x01,
    // 160
    0xe1, 0xed, 0xf3, 0xfa, 0xf1, 0xd1, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01,
    0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01,
    // 192
    0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01,
    0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01,
    // 224
    0x01, 0xdf, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01,
    0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01};

struct Identity {
    uint8_t t[128];
    constexpr Identity() : t{} {
        for (int i = 0; i < 128; i++) t[i] = uint8_t(128 + i);
    }
};
constexpr Identity kIdentity;

uint8_t primaryOf(uint8_t c) {
    return kWeights.w[c];
}
uint8_t secondaryOf(uint8_t c) {
    return kWeights.w[256 + c];
}

// The letters a character stands for: itself, or the two letters of its expansion pair.
int lettersOf(uint8_t c, uint8_t letters[2]) {
    if (primaryOf(c) != kExpands) {
        letters[0] = c;
        return 1;
    }
    const int pair = secondaryOf(c) & 3;
    letters[0] = uint8_t(collate4expansions[2 * pair]);
    letters[1] = uint8_t(collate4expansions[2 * pair + 1]);
    return 2;
}

}  // namespace

const uint8_t (&collate4weights)[512] = kWeights.w;

const char collate4expansions[9] = "OEAETHSS";

int collate4codePage(int codePage, const uint8_t** table) {
    if (table == nullptr) return e4parmNull;
    switch (codePage) {
        case 0:
        case 3:
            *table = kIdentity.t;
            return 0;
        case 1:
            *table = kCodePage437;
            return 0;
        default:
            return e4parm;
    }
}

int collate4key(const uint8_t* text, int length, const uint8_t* codePage, uint8_t* key,
                int keyLength) {
    if ((text == nullptr && length > 0) || key == nullptr) return e4parmNull;
    if (length < 0 || keyLength < 1) return e4parm;
    const uint8_t* map = codePage != nullptr ? codePage : kIdentity.t;
    auto mapped = [&](int i) { return text[i] >= 128 ? map[text[i] - 128] : text[i]; };

    int out = 0;
    uint8_t letters[2];
    if (2 * length < keyLength) {
        for (int i = 0; i < length; i++) {
            const int n = lettersOf(mapped(i), letters);
            for (int l = 0; l < n; l++) key[out++] = primaryOf(letters[l]);
        }
        return out;
    }

    int n = length;
    while (n > 0 && text[n - 1] == ' ') n--;
    for (int i = 0; i < n; i++) {
        const int count = lettersOf(mapped(i), letters);
        for (int l = 0; l < count && out < keyLength; l++) key[out++] = primaryOf(letters[l]);
    }
    for (int i = 0; i < n && out < keyLength; i++) {
        const int count = lettersOf(mapped(i), letters);
        for (int l = 0; l < count && out < keyLength; l++) {
            const uint8_t weight = secondaryOf(letters[l]);
            if (weight != kNoSecondary) key[out++] = weight;
        }
    }
    while (out < keyLength) key[out++] = 0;
    return out;
}

int collate4compare(const uint8_t* stored, int storedLength, const uint8_t* search,
                    int searchLength, int zeroAllowance) {
    int i = 0, j = 0;
    // Primary phase.
    while (j < searchLength && i < storedLength && search[j] >= kPrimaryMin) {
        if (stored[i] == search[j]) {
            i++;
            j++;
        } else if (search[j] == kBlankWeight) {
            if (stored[i] >= kPrimaryMin) return 1;
            j++;  // a trailing blank of the search text against a shorter stored text
        } else {
            return stored[i] < search[j] ? -1 : 1;
        }
    }
    // The stored key's remaining primary bytes make it the greater one at any difference.
    bool leftOver = false;
    while (i < storedLength && stored[i] >= kPrimaryMin) {
        i++;
        leftOver = true;
    }
    // Secondary phase.
    while (j < searchLength && search[j] < kPrimaryMin) {
        if (i >= storedLength) {
            if (search[j] == 0 && zeroAllowance > 0) {
                zeroAllowance--;
                j++;
                continue;
            }
            return leftOver ? 1 : -1;
        }
        if (stored[i] != search[j]) {
            if (leftOver) return 1;
            return stored[i] < search[j] ? -1 : 1;
        }
        i++;
        j++;
    }
    return 0;
}
