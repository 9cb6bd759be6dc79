#pragma once
// ZTChainGuess: where a chain's first chunk most likely lies in the dictionary table, learned
// from the chains this handle has read. Chain numbers and dictionary records both grow as values
// are written, so record - chain is constant over long runs of chains and steps where a value
// took several chunks or other records came between. A guess is only a place to look: the
// reader takes the record only when it says itself that it is the chain's first chunk, live,
// and otherwise finds the chain as it would without a guess.
//
// Memory: kBuckets pairs (chain, record) of 8 bytes, 128 KiB, allocated at the first pair
// learned. The chain numbers are cut into kBuckets equal buckets, each holding the last pair
// learned in it; the buckets widen (two neighbours folded into one) as higher chains are
// learned, so the size stays the same whatever the database's. One handle, one thread.
#include <cstddef>
#include <cstdint>
#include <vector>

class ZTChainGuess {
  public:
    static constexpr uint32_t kBuckets = 16384;
    // How many buckets either side a guess looks for a learned pair.
    static constexpr uint32_t kReach = 64;
    // After this many wrong guesses in a row, what was learned is dropped: the records moved.
    static constexpr uint32_t kMissesToForget = 64;

    // The record where the chain's first chunk most likely is, 0 when nothing learned lies near.
    // Between two learned pairs the offset record - chain is taken in proportion.
    int32_t guess(uint32_t chain) const;
    // The chain's first chunk was found at the record (by whatever means).
    void learn(uint32_t chain, int32_t record);
    // What a guess came to: counted, and a long run of misses forgets everything.
    void hit();
    void miss();
    // Forgets every pair (the dictionary was rewritten, put back or reindexed).
    void forget();

    uint64_t hits() const { return hits_; }
    uint64_t misses() const { return misses_; }
    // Bytes held now.
    size_t memoryBytes() const { return pairs_.capacity() * sizeof(Pair); }

  private:
    struct Pair {
        uint32_t chain;  // 0: none learned here
        int32_t record;
    };
    void widen(uint32_t chain);

    std::vector<Pair> pairs_;  // empty until the first pair, then kBuckets
    uint32_t shift_ = 0;       // bucket of a chain: chain >> shift_
    uint32_t missRun_ = 0;
    uint64_t hits_ = 0;
    uint64_t misses_ = 0;
};
