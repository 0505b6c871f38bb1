// SPDX-License-Identifier: MIT
// Cost of one in-process Pinging("127.0.0.1") against the floor set by the
// kernel: a bare echo round trip over loopback on a raw ICMP socket that is
// opened once. Pinging() also opens and closes its socket, draws random
// numbers and parses the address on every call, and the target is to stay
// within 10 times the floor (median against median).
//
// usage: bench_probe [ROUND_TRIPS [CALLS]]   (needs root or CAP_NET_RAW for
// the floor; exits 1 if the target is missed, 2 if it cannot measure)
#include <arpa/inet.h>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "stats.h"

#include "zorvek.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kTargetRatio = 10.0;

std::uint16_t checksum(const std::uint8_t* data, std::size_t len) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < len; i += 2)
        sum += static_cast<std::uint32_t>(data[i] << 8 | data[i + 1]);
    if (len % 2) sum += static_cast<std::uint32_t>(data[len - 1]) << 8;
    while (sum >> 16) sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum);
}

using bench::Stats;
using bench::summarize;

void print(const char* what, const Stats& s, std::size_t n) {
    std::printf("%-34s n=%-5zu min %8.2f  p10 %8.2f  median %8.2f  p90 %8.2f us\n", what, n, s.min,
                s.p10, s.median, s.p90);
}

// One echo round trip on an already open raw socket; returns microseconds,
// or a negative value if no reply came within a second.
double rawRoundTrip(int fd, std::uint16_t id, std::uint16_t seq) {
    std::uint8_t msg[64] = {8,
                            0,
                            0,
                            0,
                            static_cast<std::uint8_t>(id >> 8),
                            static_cast<std::uint8_t>(id),
                            static_cast<std::uint8_t>(seq >> 8),
                            static_cast<std::uint8_t>(seq)};
    for (std::size_t i = 8; i < sizeof(msg); ++i) msg[i] = static_cast<std::uint8_t>(i);
    const std::uint16_t sum = checksum(msg, sizeof(msg));
    msg[2] = static_cast<std::uint8_t>(sum >> 8);
    msg[3] = static_cast<std::uint8_t>(sum);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);

    const auto start = Clock::now();
    if (sendto(fd, msg, sizeof(msg), 0, reinterpret_cast<sockaddr*>(&to), sizeof(to)) < 0)
        return -1;
    std::uint8_t buf[256];
    for (;;) {
        pollfd pfd{fd, POLLIN, 0};
        if (poll(&pfd, 1, 1000) <= 0) return -1;
        const ssize_t n = recv(fd, buf, sizeof(buf), 0);
        if (n < 28) continue;
        const std::size_t ihl = (buf[0] & 0x0f) * 4u;
        const std::uint8_t* icmp = buf + ihl;
        if (static_cast<std::size_t>(n) < ihl + 8 || icmp[0] != 0) continue;
        if ((icmp[4] << 8 | icmp[5]) != id || (icmp[6] << 8 | icmp[7]) != seq) continue;
        return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
    }
}

}  // namespace

int main(int argc, char** argv) {
    const int roundTrips = argc > 1 ? std::atoi(argv[1]) : 5000;
    const int calls = argc > 2 ? std::atoi(argv[2]) : 2000;
    if (roundTrips < 10 || calls < 10) {
        std::fprintf(stderr, "usage: %s [ROUND_TRIPS [CALLS]] (each at least 10)\n", argv[0]);
        return 2;
    }

    const int fd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0) {
        std::perror("raw ICMP socket (run as root or with CAP_NET_RAW)");
        return 2;
    }
    icmp_filter onlyReplies{~(1U << 0)};
    setsockopt(fd, SOL_RAW, ICMP_FILTER, &onlyReplies, sizeof(onlyReplies));
    const auto id = static_cast<std::uint16_t>(std::random_device{}());

    std::vector<double> floorUs;
    std::vector<double> callUs;
    floorUs.reserve(static_cast<std::size_t>(roundTrips));
    callUs.reserve(static_cast<std::size_t>(calls));

    // Warm up both paths, then interleave the measurements so that both see
    // the same machine state.
    for (int i = 0; i < 200; ++i) {
        rawRoundTrip(fd, id, static_cast<std::uint16_t>(i));
        Pinging("127.0.0.1");
    }
    std::uint16_t seq = 1000;
    const int perCall = std::max(1, roundTrips / calls);
    for (int i = 0; floorUs.size() < static_cast<std::size_t>(roundTrips) ||
                    callUs.size() < static_cast<std::size_t>(calls);
         ++i) {
        for (int k = 0; k < perCall && floorUs.size() < static_cast<std::size_t>(roundTrips); ++k) {
            const double us = rawRoundTrip(fd, id, seq++);
            if (us < 0) {
                std::fprintf(stderr, "raw loopback echo got no reply\n");
                return 2;
            }
            floorUs.push_back(us);
        }
        if (callUs.size() < static_cast<std::size_t>(calls)) {
            const auto start = Clock::now();
            const int32_t code = Pinging("127.0.0.1");
            const double us =
                std::chrono::duration<double, std::micro>(Clock::now() - start).count();
            if (code != ZORVEK_SUCCESS) {
                std::fprintf(stderr, "Pinging(\"127.0.0.1\") returned %d\n", code);
                return 2;
            }
            callUs.push_back(us);
        }
    }
    close(fd);

    const Stats floorStats = summarize(floorUs);
    const Stats callStats = summarize(callUs);
    print("raw socket echo round trip (floor)", floorStats, floorUs.size());
    print("Pinging(\"127.0.0.1\")", callStats, callUs.size());
    const double ratio = callStats.median / floorStats.median;
    std::printf("ratio of medians: %.2f (target <= %.0f): %s\n", ratio, kTargetRatio,
                ratio <= kTargetRatio ? "within target" : "OVER TARGET");
    return ratio <= kTargetRatio ? 0 : 1;
}
