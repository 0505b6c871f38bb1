// SPDX-License-Identifier: MIT
// A long night against a stalled name server: Pinging() of a new name every
// INTERVAL ms for SECONDS, in a network and mount namespace of its own whose
// resolver names three mute name servers (127.0.0.1-3, which take queries
// and never answer) with "options timeout:30 attempts:5". Every lookup is
// given up after 1 s but would go on for minutes; the library lets no more
// than four run, so the process's threads and descriptors must level off.
// Prints them as time goes by, and the most of each in the first and the
// second half of the run.
//
// usage: bench_lookup_cap [SECONDS [INTERVAL_MS]]   (as root; defaults 600, 1000)
// Exits 1 if the second half ever holds more threads or descriptors than the
// first, or a call is not answered with 1 within the bound; 2 if it cannot run.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/mount.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "namespace.h"
#include "zorvek.h"

namespace {

using Clock = std::chrono::steady_clock;

int entries(const char* directory) {
    int n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(directory)) ++n;
    return n;
}

void bindOver(const std::string& source, const char* target) {
    if (::mount(source.c_str(), target, nullptr, MS_BIND, nullptr) != 0) bench::fail(target);
}

// Resolver files of this mount namespace only.
void useMuteNameServers() {
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) bench::fail("mount");
    char dir[] = "/tmp/zorvek-bench-XXXXXX";
    if (::mkdtemp(dir) == nullptr) bench::fail("mkdtemp");
    const std::string base(dir);
    bench::writeFile(base + "/resolv.conf",
                     "nameserver 127.0.0.1\nnameserver 127.0.0.2\nnameserver 127.0.0.3\n"
                     "options timeout:30 attempts:5\n");
    bench::writeFile(base + "/hosts", "127.0.0.1 localhost\n");
    bench::writeFile(base + "/nsswitch.conf", "hosts: files dns\n");
    bindOver(base + "/resolv.conf", "/etc/resolv.conf");
    bindOver(base + "/hosts", "/etc/hosts");
    bindOver(base + "/nsswitch.conf", "/etc/nsswitch.conf");
    std::filesystem::remove_all(base);  // the mounts keep the files alive
}

// A socket on port 53 of `address` that is never read.
void muteNameServer(const char* address) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(53);
    ::inet_pton(AF_INET, address, &sin.sin_addr);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&sin), sizeof(sin)) != 0) {
        bench::fail(address);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 600;
    const int intervalMs = argc > 2 ? std::atoi(argv[2]) : 1000;
    if (seconds < 10 || intervalMs < 100) {
        std::fprintf(stderr, "usage: %s [SECONDS [INTERVAL_MS]] (at least 10 and 100)\n", argv[0]);
        return 2;
    }
    bench::enterNamespace(CLONE_NEWNS);
    useMuteNameServers();
    for (const char* address : {"127.0.0.1", "127.0.0.2", "127.0.0.3"}) muteNameServer(address);

    const int baseThreads = entries("/proc/self/task");
    const int baseFds = entries("/proc/self/fd");
    std::printf("stalled name servers, a probe every %d ms for %d s; at start %d threads, %d fds\n",
                intervalMs, seconds, baseThreads, baseFds);
    int maxThreads[2] = {0, 0}, maxFds[2] = {0, 0};
    double longestCall = 0;
    int wrongCodes = 0;
    const auto start = Clock::now();
    const auto end = start + std::chrono::seconds(seconds);
    auto next = start;
    int reported = 0;
    for (int i = 0; Clock::now() < end; ++i) {
        const std::string name = "stalled-" + std::to_string(i) + ".invalid";
        const auto callStart = Clock::now();
        const int32_t code = Pinging(name.c_str());
        const std::chrono::duration<double> took = Clock::now() - callStart;
        longestCall = std::max(longestCall, took.count());
        if (code != ZORVEK_HOST_NOT_FOUND) ++wrongCodes;
        const int threads = entries("/proc/self/task");
        const int fds = entries("/proc/self/fd");
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        const int half = elapsed < seconds / 2.0 ? 0 : 1;
        maxThreads[half] = std::max(maxThreads[half], threads);
        maxFds[half] = std::max(maxFds[half], fds);
        if (elapsed >= reported) {
            std::printf("  %4.0f s  probes %5d  threads %3d  fds %4d\n", elapsed, i + 1, threads,
                        fds);
            std::fflush(stdout);
            reported = reported < 60 ? reported + 10 : reported + 60;
        }
        next += std::chrono::milliseconds(intervalMs);
        std::this_thread::sleep_until(next);
    }
    const bool flat = maxThreads[1] <= maxThreads[0] && maxFds[1] <= maxFds[0];
    std::printf(
        "most threads: first half %d, second half %d; most fds: first half %d, second "
        "half %d: %s\n",
        maxThreads[0], maxThreads[1], maxFds[0], maxFds[1], flat ? "flat" : "GROWING");
    std::printf("longest call %.3f s; calls not answered with 1: %d\n", longestCall, wrongCodes);
    return flat && wrongCodes == 0 && longestCall <= 2.5 ? 0 : 1;
}
