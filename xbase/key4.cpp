#include "xbase/key4.h"

#include <bit>
#include <cmath>

#include "xbase/currency4.h"
#include "xbase/error4.h"
#include "xbase/util4.h"

namespace {

void putBigEndian64(uint8_t* out, uint64_t v) {
    for (int i = 0; i < 8; i++) out[i] = uint8_t(v >> (56 - 8 * i));
}

constexpr uint64_t kSignBit = uint64_t(1) << 63;
constexpr uint64_t kQuietNaN = 0x7FF8000000000000u;
constexpr double kMillisecondsPerDay = 24.0 * 3600.0 * 1000.0;

}  // namespace

void key4fromDouble(uint8_t out[key4doubleLength], double value) {
    if (value == 0.0) value = 0.0;  // -0.0 becomes +0.0
    // One positive quiet NaN for every NaN, whatever its sign and payload.
    uint64_t bits = std::isnan(value) ? kQuietNaN : std::bit_cast<uint64_t>(value);
    bits = (bits & kSignBit) != 0 ? ~bits : bits | kSignBit;
    putBigEndian64(out, bits);
}

void key4fromInt(uint8_t out[key4intLength], int32_t value) {
    const uint32_t bits = uint32_t(value) ^ 0x80000000u;
    for (int i = 0; i < 4; i++) out[i] = uint8_t(bits >> (24 - 8 * i));
}

void key4fromCurrency(uint8_t out[key4currencyLength], int64_t tenThousandths) {
    putBigEndian64(out, uint64_t(tenThousandths) ^ kSignBit);
}

void key4fromDateTime(uint8_t out[key4doubleLength], int32_t dayNumber, int32_t milliseconds) {
    key4fromDouble(out, double(dayNumber) + double(milliseconds) / kMillisecondsPerDay);
}

int32_t key4fromCurrencyDouble(uint8_t out[key4currencyLength], double value) {
    char text[20];
    int32_t rc = c4dtoa(value, text, sizeof text, 4);
    if (rc < 0) return rc;
    currency4 units;
    if (currency4fromText(&units, text, sizeof text) != 0)
        return error4raise(nullptr, e4width, E4LOC(96360));
    key4fromCurrency(out, currency4get(&units));
    return 0;
}
