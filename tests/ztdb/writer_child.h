#pragma once
// The body of a writer process for the tests that read while another process writes.
#include <poll.h>
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <string>

#include "xbase/child_process.h"
#include "ztdb/ztfile.h"

// Opens the database shared, says 'r', and makes write(file, n) for n = 0, 1, ... until told
// to stop or `limit` are made; then sends how many it made. Exits 2 when the database does not
// open or the parent is gone, 3 on a failed write.
inline void writeUntilStopped(const std::string& base, int in, int out, uint32_t limit,
                              const std::function<bool(ZTFile&, uint32_t)>& write) {
    ZTFile mine(base.c_str());
    if (mine.open(3, false) != 3) _exit(2);
    answer(out, 'r');
    uint32_t written = 0;
    for (; written < limit; ++written) {
        pollfd stop{in, POLLIN, 0};
        if (poll(&stop, 1, 0) > 0) break;
        if (!write(mine, written)) _exit(3);
    }
    if (!writeValue(out, written)) _exit(2);
}
