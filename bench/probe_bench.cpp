// SPDX-License-Identifier: MIT
// Cost of one in-process Pinging() against what the kernel needs for the same
// work, all series interleaved so that they see the same machine state, in
// rounds; a ratio is the median call over the median floor of one round, and
// the figure is the median of the rounds' ratios (their spread is printed).
//
// As root in this namespace (where a ping socket may be refused, as on
// Debian), the floor is a raw ICMP socket; in a network namespace of the
// benchmark's own where ping sockets are allowed, it is a ping socket:
//   - Pinging("127.0.0.1") against opening a socket, one echo, closing it
//     (goal <= 1.5x);
//   - Pinging("localhost") against getaddrinfo() plus the same (goal <= 2.0x);
//   - Pinging("127.0.0.1") against one echo round trip over a raw socket
//     opened once (goal <= 10x).
//
// usage: bench_probe [ROUNDS [CALLS]]   (root; exits 1 if a goal is missed,
// 2 if it cannot measure)
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "namespace.h"  // before linux/icmp.h: glibc's net/if.h must come first
#include "stats.h"

#include <linux/icmp.h>  // ICMP_FILTER

#include "zorvek.h"

namespace {

using Clock = std::chrono::steady_clock;

std::uint16_t checksum(const std::uint8_t* data, std::size_t len) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < len; i += 2)
        sum += static_cast<std::uint32_t>(data[i] << 8 | data[i + 1]);
    if (len % 2) sum += static_cast<std::uint32_t>(data[len - 1]) << 8;
    while (sum >> 16) sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum);
}

const std::uint16_t kId = static_cast<std::uint16_t>(std::random_device{}());
std::uint16_t nextSeq = 0;

// One echo request to `to` and its reply on an open socket; false if no reply
// came within a second. A raw socket's datagrams start with the IP header; a
// ping socket's carry the kernel's identifier, so only the sequence is checked.
bool echoOnce(int fd, bool raw, const sockaddr_in& to) {
    const std::uint16_t seq = nextSeq++;
    std::uint8_t msg[64] = {8,
                            0,
                            0,
                            0,
                            static_cast<std::uint8_t>(kId >> 8),
                            static_cast<std::uint8_t>(kId),
                            static_cast<std::uint8_t>(seq >> 8),
                            static_cast<std::uint8_t>(seq)};
    for (std::size_t i = 8; i < sizeof(msg); ++i) msg[i] = static_cast<std::uint8_t>(i);
    const std::uint16_t sum = checksum(msg, sizeof(msg));
    msg[2] = static_cast<std::uint8_t>(sum >> 8);
    msg[3] = static_cast<std::uint8_t>(sum);
    if (sendto(fd, msg, sizeof(msg), 0, reinterpret_cast<const sockaddr*>(&to), sizeof(to)) < 0)
        return false;
    std::uint8_t buf[256];
    for (;;) {
        // Over loopback the reply is usually there when sendto() returns:
        // the wait is only for when it is not.
        ssize_t n = recv(fd, buf, sizeof(buf), MSG_DONTWAIT);
        if (n < 0) {
            pollfd pfd{fd, POLLIN, 0};
            if (poll(&pfd, 1, 1000) <= 0) return false;
            n = recv(fd, buf, sizeof(buf), MSG_DONTWAIT);
        }
        const std::size_t skip = raw ? (buf[0] & 0x0f) * 4u : 0;
        if (n < 0 || static_cast<std::size_t>(n) < skip + 8) continue;
        const std::uint8_t* icmp = buf + skip;
        if (icmp[0] != 0 || (icmp[6] << 8 | icmp[7]) != seq) continue;
        if (raw && (icmp[4] << 8 | icmp[5]) != kId) continue;
        return true;
    }
}

sockaddr_in loopback() {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return to;
}

bool openEchoClose(bool raw, const sockaddr_in& to) {
    const int fd = socket(AF_INET, (raw ? SOCK_RAW : SOCK_DGRAM) | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0) return false;
    const bool ok = echoOnce(fd, raw, to);
    close(fd);
    return ok;
}

bool lookupOpenEchoClose(bool raw) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* list = nullptr;
    if (getaddrinfo("localhost", nullptr, &hints, &list) != 0) return false;
    sockaddr_in to{};
    for (const addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) {
        if (ai->ai_family == AF_INET) {
            to = *reinterpret_cast<const sockaddr_in*>(ai->ai_addr);
            break;
        }
    }
    freeaddrinfo(list);
    return to.sin_family == AF_INET && openEchoClose(raw, to);
}

struct Series {
    std::string what;
    std::function<bool()> run;
    std::vector<double> roundMedians;
    std::function<void()> prepare = [] {};  // before each run, not timed
};

// A call against its floor, with the goal for their ratio.
struct Figure {
    std::string what;
    std::size_t call, floor;
    double goal;
};

double microseconds(const std::function<bool()>& run) {
    const auto start = Clock::now();
    if (!run()) {
        std::fprintf(stderr, "a measured step failed\n");
        std::exit(2);
    }
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

// Runs every series `calls` times per round, one after the other within each
// step, and prints one figure line per pair. Returns false if a goal is missed.
bool measure(std::vector<Series>& series, const std::vector<Figure>& figures, int rounds,
             int calls) {
    for (int i = 0; i < 100; ++i) {
        for (Series& s : series) microseconds(s.run);  // warm up
    }
    for (int r = 0; r < rounds; ++r) {
        std::vector<std::vector<double>> times(series.size());
        for (int i = 0; i < calls; ++i) {
            for (std::size_t k = 0; k < series.size(); ++k) {
                series[k].prepare();
                times[k].push_back(microseconds(series[k].run));
            }
        }
        for (std::size_t k = 0; k < series.size(); ++k)
            series[k].roundMedians.push_back(bench::summarize(times[k]).median);
    }
    bool allMet = true;
    for (const Figure& f : figures) {
        std::vector<double> ratios;
        for (int r = 0; r < rounds; ++r) {
            const auto i = static_cast<std::size_t>(r);
            ratios.push_back(series[f.call].roundMedians[i] / series[f.floor].roundMedians[i]);
        }
        const bench::Stats ratio = bench::summarize(ratios);
        const double call = bench::summarize(series[f.call].roundMedians).median;
        const double floor = bench::summarize(series[f.floor].roundMedians).median;
        std::printf("  %s: ratio over %d rounds of %d calls: min %.2fx, max %.2fx\n",
                    f.what.c_str(), rounds, calls, ratio.min, ratio.max);
        std::printf("figure: %s | zorvek %.1f us | %s %.1f us | ratio %.2fx | goal <= %.1fx\n",
                    f.what.c_str(), call, series[f.floor].what.c_str(), floor, ratio.median,
                    f.goal);
        allMet = allMet && ratio.median <= f.goal;
    }
    std::fflush(stdout);
    return allMet;
}

bool pinging(const char* host) { return Pinging(host) == ZORVEK_SUCCESS; }

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 7;
    const int calls = argc > 2 ? std::atoi(argv[2]) : 300;
    if (rounds < 1 || calls < 10) {
        std::fprintf(stderr, "usage: %s [ROUNDS [CALLS]] (at least 1 and 10)\n", argv[0]);
        return 2;
    }
    const sockaddr_in to = loopback();

    // First, in a fresh process, a namespace of its own where ping sockets
    // are allowed: a process that has been refused one remembers that for a
    // while, so this part must not follow calls made here.
    std::fflush(stdout);
    const pid_t child = fork();
    if (child < 0) bench::fail("fork");
    if (child == 0) {
        bench::enterNamespace();
        bench::setSysctl("net.ipv4.ping_group_range", "0 2147483647");
        std::vector<Series> series = {
            {"Pinging(\"127.0.0.1\")", [] { return pinging("127.0.0.1"); }, {}},
            {"ping socket open, echo, close", [&] { return openEchoClose(false, to); }, {}},
            {"Pinging(\"localhost\")", [] { return pinging("localhost"); }, {}},
            {"getaddrinfo + ping socket open, echo, close",
             [] { return lookupOpenEchoClose(false); },
             {}},
        };
        const bool met = measure(series,
                                 {{"Pinging(\"127.0.0.1\"), ping socket allowed", 0, 1, 1.5},
                                  {"Pinging(\"localhost\"), ping socket allowed", 2, 3, 2.0}},
                                 rounds, calls);
        std::_Exit(met ? 0 : 1);
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) > 1)
        return 2;
    bool met = WEXITSTATUS(status) == 0;

    // Then here, as root, where the raw socket is what works whenever the
    // ping socket is refused.
    const int onceOpen = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (onceOpen < 0) bench::fail("raw ICMP socket (run as root or with CAP_NET_RAW)");
    icmp_filter onlyReplies{~(1U << 0)};
    setsockopt(onceOpen, SOL_RAW, ICMP_FILTER, &onlyReplies, sizeof(onlyReplies));
    // The socket that stays open also gets the replies to the other series'
    // requests; they are read away before each of its own round trips.
    const auto drain = [onceOpen] {
        std::uint8_t buf[256];
        while (recv(onceOpen, buf, sizeof(buf), MSG_DONTWAIT) >= 0) {
        }
    };
    std::vector<Series> series = {
        {"Pinging(\"127.0.0.1\")", [] { return pinging("127.0.0.1"); }, {}},
        {"raw socket open, echo, close", [&] { return openEchoClose(true, to); }, {}},
        {"Pinging(\"localhost\")", [] { return pinging("localhost"); }, {}},
        {"getaddrinfo + raw socket open, echo, close",
         [] { return lookupOpenEchoClose(true); },
         {}},
        {"raw socket echo (opened once)", [&] { return echoOnce(onceOpen, true, to); }, {}, drain},
    };
    met = measure(series,
                  {{"Pinging(\"127.0.0.1\"), raw socket", 0, 1, 1.5},
                   {"Pinging(\"localhost\"), raw socket", 2, 3, 2.0},
                   {"Pinging(\"127.0.0.1\") against an echo on an open raw socket", 0, 4, 10.0}},
                  rounds, calls) &&
          met;
    close(onceOpen);
    return met ? 0 : 1;
}
