// SPDX-License-Identifier: MIT
// What the fallback through the system's ping costs. Two workers, each in a
// network namespace of its own and running as nobody, call
// Pinging("127.0.0.1") in turn: one may open ICMP ping sockets, the other
// may open no ICMP socket at all and so goes through ping(8). Prints both
// per-call times side by side, then the wall time of a silent host through
// the fallback (a third worker whose namespace ignores echo requests), which
// must stay within the library's 2.5 s bound.
//
// usage: bench_fallback [CALLS [SILENT_CALLS]]   (as root; defaults 200, 3)
// Exits 1 if a silent call overruns the bound, 2 if it cannot measure.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "namespace.h"
#include "stats.h"
#include "zorvek.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kBoundSeconds = 2.5;

struct Result {
    std::int32_t code;
    double micros;
};

// A child that answers each byte on its pipe with one timed Pinging() call.
class Worker {
public:
    Worker(const char* pingGroupRange, bool silent) {
        int request[2], reply[2];
        if (::pipe(request) != 0 || ::pipe(reply) != 0) bench::fail("pipe");
        pid_ = ::fork();
        if (pid_ < 0) bench::fail("fork");
        if (pid_ == 0) {
            ::close(request[1]);
            ::close(reply[0]);
            bench::enterNamespace();
            bench::setSysctl("net.ipv4.ping_group_range", pingGroupRange);
            if (silent) bench::setSysctl("net.ipv4.icmp_echo_ignore_all", "1");
            bench::dropToNobody();
            char byte;
            while (::read(request[0], &byte, 1) == 1) {
                const auto start = Clock::now();
                Result r{Pinging("127.0.0.1"), 0};
                r.micros = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
                if (::write(reply[1], &r, sizeof(r)) != sizeof(r)) break;
            }
            ::_exit(0);
        }
        ::close(request[0]);
        ::close(reply[1]);
        to_ = request[1];
        from_ = reply[0];
    }
    ~Worker() {
        ::close(to_);
        ::close(from_);
        ::waitpid(pid_, nullptr, 0);
    }

    Result call() {
        Result r{-100, 0};
        if (::write(to_, "p", 1) != 1 || ::read(from_, &r, sizeof(r)) != sizeof(r)) {
            std::fprintf(stderr, "a worker died\n");
            std::exit(2);
        }
        return r;
    }

private:
    pid_t pid_ = -1;
    int to_ = -1;
    int from_ = -1;
};

}  // namespace

int main(int argc, char** argv) {
    const int calls = argc > 1 ? std::atoi(argv[1]) : 200;
    const int silentCalls = argc > 2 ? std::atoi(argv[2]) : 3;
    if (calls < 10 || silentCalls < 1) {
        std::fprintf(stderr, "usage: %s [CALLS [SILENT_CALLS]] (at least 10 and 1)\n", argv[0]);
        return 2;
    }
    Worker socket("0 2147483647", false);
    Worker fallback("1 0", false);
    std::vector<double> socketUs, fallbackUs;
    for (int i = 0; i < calls + 10; ++i) {
        const Result s = socket.call();
        const Result f = fallback.call();
        if (s.code != ZORVEK_SUCCESS || f.code != ZORVEK_SUCCESS) {
            std::fprintf(stderr, "a probe of 127.0.0.1 failed: socket %d, fallback %d\n", s.code,
                         f.code);
            return 2;
        }
        if (i < 10) continue;  // warm-up
        socketUs.push_back(s.micros);
        fallbackUs.push_back(f.micros);
    }
    std::printf("Pinging(\"127.0.0.1\") as nobody, n=%d each, alternating:\n", calls);
    const bench::Stats socketStats = bench::summarize(socketUs);
    const bench::Stats fallbackStats = bench::summarize(fallbackUs);
    std::printf("  %-22s median %8.0f us  p90 %8.0f us\n", "ping socket", socketStats.median,
                socketStats.p90);
    std::printf("  %-22s median %8.0f us  p90 %8.0f us\n", "fallback through ping",
                fallbackStats.median, fallbackStats.p90);
    std::printf("  fallback / socket (medians): %.1f\n", fallbackStats.median / socketStats.median);

    Worker silent("1 0", true);
    double longest = 0;
    for (int i = 0; i < silentCalls; ++i) {
        const Result r = silent.call();
        if (r.code != ZORVEK_PING_ERROR) {
            std::fprintf(stderr, "the silent host gave %d, not 2\n", r.code);
            return 2;
        }
        longest = std::max(longest, r.micros / 1e6);
    }
    const bool within = longest <= kBoundSeconds;
    std::printf("silent host through ping: longest of %d calls %.3f s (bound %.1f s): %s\n",
                silentCalls, longest, kBoundSeconds, within ? "within bound" : "OVER BOUND");
    return within ? 0 : 1;
}
