#include "ztdb/ztnames.h"

#include <cstring>

const char kFoldTable[65] = "aaaaaaaceeeeiiiidnooooozzuuuuyzzaaaaaaaceeeeiiiidnooooozzuuuuyzy";

char* foldSearchChars(char* text, const char* keep) {
    if (!text) return text;
    char* out = text;
    for (const char* in = text; *in; ++in) {
        unsigned char c = static_cast<unsigned char>(*in);
        if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || (keep && std::strchr(keep, c)))
            *out++ = char(c);
        else if (c >= 'A' && c <= 'Z')
            *out++ = char(c - 'A' + 'a');
        else if (c >= 192 && c != 215 && c != 247)
            *out++ = kFoldTable[c - 192];
        else if (c == 140 || c == 156)
            *out++ = 'o';
    }
    *out = 0;
    return text;
}

uint32_t hashString(const char* text) {
    if (!text) return 0xFFFFFFFFu;
    if (!*text) return 0;
    uint32_t h = uint32_t(int32_t(static_cast<signed char>(*text)));
    for (const char* p = text + 1; *p; ++p)
        h = (h + 1) * uint32_t(int32_t(static_cast<signed char>(*p)));
    return h;
}
