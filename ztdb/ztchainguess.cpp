#include "ztdb/ztchainguess.h"

#include <algorithm>
#include <cstdint>
#include <limits>

int32_t ZTChainGuess::guess(uint32_t chain) const {
    if (pairs_.empty() || chain == 0) return 0;
    const uint32_t home = std::min(chain >> shift_, kBuckets - 1);
    // The nearest pair at or below the chain, and the nearest above it.
    const Pair* below = nullptr;
    const Pair* above = nullptr;
    for (uint32_t k = 0; k <= kReach && k <= home && !below; ++k) {
        const Pair& p = pairs_[home - k];
        if (p.chain != 0 && p.chain <= chain) below = &p;
    }
    for (uint32_t k = 0; k <= kReach && home + k < kBuckets && !above; ++k) {
        const Pair& p = pairs_[home + k];
        if (p.chain > chain) above = &p;
    }
    if (!below && !above) return 0;
    const Pair& from = below ? *below : *above;
    int64_t offset = int64_t(from.record) - int64_t(from.chain);
    if (below && above) {
        // Records taken by the chains between the two pairs beyond one each: spread evenly.
        const int64_t high = int64_t(above->record) - int64_t(above->chain);
        if (high > offset) {
            const double share = double(chain - below->chain) / double(above->chain - below->chain);
            offset += int64_t(double(high - offset) * share + 0.5);
        }
    }
    const int64_t record = int64_t(chain) + offset;
    return record >= 1 && record <= std::numeric_limits<int32_t>::max() ? int32_t(record) : 0;
}

void ZTChainGuess::learn(uint32_t chain, int32_t record) {
    if (chain == 0 || record < 1) return;
    if (pairs_.empty()) pairs_.assign(kBuckets, Pair{0, 0});
    if ((chain >> shift_) >= kBuckets) widen(chain);
    pairs_[chain >> shift_] = Pair{chain, record};
}

// Doubles the width of the buckets until the chain falls in one; of two neighbours folded
// together the higher pair stays.
void ZTChainGuess::widen(uint32_t chain) {
    while ((chain >> shift_) >= kBuckets) {
        for (uint32_t i = 0; i < kBuckets / 2; ++i) {
            const Pair& high = pairs_[2 * i + 1];
            pairs_[i] = high.chain != 0 ? high : pairs_[2 * i];
        }
        for (uint32_t i = kBuckets / 2; i < kBuckets; ++i) pairs_[i] = Pair{0, 0};
        ++shift_;
    }
}

void ZTChainGuess::hit() {
    ++hits_;
    missRun_ = 0;
}

void ZTChainGuess::miss() {
    ++misses_;
    if (++missRun_ >= kMissesToForget) forget();
}

void ZTChainGuess::forget() {
    if (!pairs_.empty()) pairs_.assign(kBuckets, Pair{0, 0});
    shift_ = 0;
    missRun_ = 0;
}
