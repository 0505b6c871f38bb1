// SPDX-License-Identifier: MIT
#include "request_numbers.h"

#include <pthread.h>
#include <sys/random.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <random>

namespace zorvek::request_numbers {
namespace {

using Block = std::array<std::uint32_t, 16>;

std::uint32_t rotl(std::uint32_t v, int n) { return (v << n) | (v >> (32 - n)); }

void quarterRound(Block& x, int a, int b, int c, int d) {
    x[a] += x[b], x[d] = rotl(x[d] ^ x[a], 16);
    x[c] += x[d], x[b] = rotl(x[b] ^ x[c], 12);
    x[a] += x[b], x[d] = rotl(x[d] ^ x[a], 8);
    x[c] += x[d], x[b] = rotl(x[b] ^ x[c], 7);
}

// The ChaCha20 block function (RFC 8439, 2.3): 64 bytes of key stream for
// one key and one 64-bit block counter (the nonce is left zero: one key
// serves one process, and the counter never repeats under it).
Block chachaBlock(const std::array<std::uint32_t, 8>& key, std::uint64_t counter) {
    Block state = {0x61707865, 0x3320646e, 0x79622d32, 0x6b206574};
    std::copy(key.begin(), key.end(), state.begin() + 4);
    state[12] = static_cast<std::uint32_t>(counter);
    state[13] = static_cast<std::uint32_t>(counter >> 32);
    Block x = state;
    for (int round = 0; round < 10; ++round) {
        quarterRound(x, 0, 4, 8, 12);
        quarterRound(x, 1, 5, 9, 13);
        quarterRound(x, 2, 6, 10, 14);
        quarterRound(x, 3, 7, 11, 15);
        quarterRound(x, 0, 5, 10, 15);
        quarterRound(x, 1, 6, 11, 12);
        quarterRound(x, 2, 7, 8, 13);
        quarterRound(x, 3, 4, 9, 14);
    }
    for (std::size_t i = 0; i < x.size(); ++i) x[i] += state[i];
    return x;
}

void systemRandom(void* buf, std::size_t len) {
    auto* p = static_cast<std::uint8_t*>(buf);
    std::size_t got = 0;
    while (got < len) {
        const ssize_t n = ::getrandom(p + got, len - got, 0);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            break;
        }
    }
    if (got < len) {
        std::random_device rd;
        for (; got < len; ++got) p[got] = static_cast<std::uint8_t>(rd());
    }
}

// The process's key and counter. Never destroyed, so a probe running on
// another thread while the process exits finds it intact.
struct Generator {
    std::mutex mutex;
    bool keyed = false;
    bool forkHandlersInstalled = false;
    std::array<std::uint32_t, 8> key{};
    std::uint64_t counter = 0;
};

Generator& generator() {
    static Generator* const g = new Generator;
    return *g;
}

// A child of fork() starts with the parent's key and counter and would send
// the numbers the parent sends next; it takes a key of its own instead. The
// lock is held across the fork so the child never inherits it held.
void lockForFork() { generator().mutex.lock(); }
void unlockInParent() { generator().mutex.unlock(); }
void rekeyInChild() {
    generator().keyed = false;
    generator().mutex.unlock();
}

}  // namespace

void fill(void* buf, std::size_t len) {
    Block block;
    {
        Generator& g = generator();
        std::lock_guard lock(g.mutex);
        if (!g.keyed) {
            if (!g.forkHandlersInstalled) {
                g.forkHandlersInstalled =
                    ::pthread_atfork(lockForFork, unlockInParent, rekeyInChild) == 0;
            }
            systemRandom(g.key.data(), sizeof(g.key));
            g.counter = 0;
            // Without fork handlers a child could repeat its parent's numbers:
            // then every call takes a fresh key, as a getrandom() per call would.
            g.keyed = g.forkHandlersInstalled;
        }
        block = chachaBlock(g.key, g.counter++);
    }
    std::memcpy(buf, block.data(), std::min(len, sizeof(block)));
    std::memset(block.data(), 0, sizeof(block));
}

}  // namespace zorvek::request_numbers
