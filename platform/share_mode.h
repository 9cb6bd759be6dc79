#pragma once
// Share modes (deny none, exclusive, deny write) for POSIX descriptors.
//
// Each open takes shared OFD locks on marker bytes far above any offset a
// data or index file uses (data offsets and lock bytes stay below 2^31):
//   reader marker       every opener (all openers read)
//   writer marker       openers with write access
//   deny-read marker    exclusive openers
//   deny-write marker   exclusive and deny-write openers
// An open is refused when it would read while someone denies reading, write
// while someone denies writing, deny reading while someone reads, or deny
// writing while someone writes. The markers are taken first and the conflicts
// checked afterwards, so two racing openers can never both succeed; if both
// back off, a short randomised retry lets one of them through.
//
// The locks vanish with the open file description, so close() releases them.
#include <cstdint>

namespace qv {

enum class ShareMode : int { denyNone = 0, exclusive = 1, denyWrite = 2 };
enum class ShareResult { ok, conflict, failed };

constexpr int64_t kShareMarkerBase = int64_t{1} << 62;
constexpr int64_t kShareReader = kShareMarkerBase;
constexpr int64_t kShareWriter = kShareMarkerBase + 1;
constexpr int64_t kShareDenyRead = kShareMarkerBase + 2;
constexpr int64_t kShareDenyWrite = kShareMarkerBase + 3;

// Takes the markers for a description opened for reading (and writing when
// `writable`) in `mode`. On conflict or failure no marker stays taken.
ShareResult shareAcquire(int fd, bool writable, ShareMode mode);

// Drops every marker of this description (used before taking others).
void shareRelease(int fd);

// True when another open file description holds any marker: somebody has
// the file open through this library.
bool shareInUseByOther(int fd);

}  // namespace qv
