// SPDX-License-Identifier: MIT
// Host names: resolution through a resolver this test controls, inside a
// private network and mount namespace, so no query ever leaves the machine.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <arpa/inet.h>

#include <chrono>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "ping_host.h"
#include "resolver.h"
#include "sandbox.h"
#include "zorvek.h"

namespace zorvek_test {
namespace {

using namespace std::chrono_literals;

// A name server on port 53 of a loopback address (127.0.0.1 unless told)
// that takes queries and never answers.
class SilentNameServer {
public:
    explicit SilentNameServer(const char* address = "127.0.0.1") {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd_ < 0) throw std::runtime_error("udp socket");
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(53);
        inet_pton(AF_INET, address, &addr.sin_addr);
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
            throw std::runtime_error(std::string("cannot bind port 53 of ") + address);
        }
    }
    ~SilentNameServer() { ::close(fd_); }
    // True if a query is waiting, unanswered.
    bool queryArrived() const {
        pollfd pfd{fd_, POLLIN, 0};
        return ::poll(&pfd, 1, 0) == 1;
    }

private:
    int fd_ = -1;
};

SandboxOptions resolverSandbox() {
    SandboxOptions options;
    options.privateResolver = true;
    return options;
}

TEST(PingingNames, StalledNameServerGivesUpWithinBound) {
    ZORVEK_RUN_SANDBOXED(outcome, resolverSandbox(), [] {
        SilentNameServer server;
        Fields f;
        timedPing(f, "stall.invalid");
        f["query_seen"] = std::to_string(static_cast<int>(server.queryArrived()));
        // The abandoned lookup is still running; a new call must not be affected.
        timedPing(f, "127.0.0.1", "after_");
        return f;
    });
    EXPECT_EQ(outcome.number("query_seen"), 1) << "the lookup never reached the stalled server";
    EXPECT_EQ(outcome.number("code"), ZORVEK_HOST_NOT_FOUND);
    EXPECT_LT(outcome.seconds("seconds"), 3.0);
    EXPECT_EQ(outcome.number("after_code"), ZORVEK_SUCCESS);
}

// Three mute name servers and resolver time-outs of minutes: every lookup
// would hold its thread and sockets for ages. Only kMaxLookupsInFlight may
// run; more probes find them busy and report 1 at once, adding nothing. The
// stalled probes run on a 100 ms lookup budget (through the library's
// internals, whose lookup count is this test's own).
TEST(PingingNames, StalledLookupsAreCappedAndNothingPilesUp) {
    SandboxOptions options = resolverSandbox();
    options.resolvConf =
        "nameserver 127.0.0.1\nnameserver 127.0.0.2\nnameserver 127.0.0.3\n"
        "options timeout:30 attempts:5\n";
    ZORVEK_RUN_SANDBOXED(outcome, options, [] {
        const SilentNameServer first("127.0.0.1"), second("127.0.0.2"), third("127.0.0.3");
        const zorvek::Budgets quick{100ms, 200ms};
        const int threads = threadCount();
        const int descriptors = openDescriptorCount();
        Fields f;
        // Answered lookups give their place back: more of them than the cap.
        // They run on the library's own budgets, since an answered lookup
        // returns as soon as it is answered anyway: the first one starts the
        // helper thread and reads the resolver's files, which on a loaded
        // machine takes longer than 100 ms now and then.
        int found = 0;
        for (int i = 0; i < 2 * zorvek::resolve::kMaxLookupsInFlight; ++i) {
            found += zorvek::pingHost("localhost") == ZORVEK_SUCCESS;
        }
        f["found"] = std::to_string(found);
        std::string seconds;
        for (int i = 0; i < 3 * zorvek::resolve::kMaxLookupsInFlight; ++i) {
            const std::string name = "stall" + std::to_string(i) + ".invalid";
            const auto start = Clock::now();
            f["code" + std::to_string(i)] = std::to_string(zorvek::pingHost(name.c_str(), quick));
            f["seconds" + std::to_string(i)] =
                std::to_string(std::chrono::duration<double>(Clock::now() - start).count());
            if (i + 1 == zorvek::resolve::kMaxLookupsInFlight) {
                // The helpers reach the name server, each with a socket of its
                // own: within 100 ms as a rule, later on a loaded machine.
                const auto until = Clock::now() + 5s;
                std::this_thread::sleep_for(100ms);
                while (openDescriptorCount() - descriptors < zorvek::resolve::kMaxLookupsInFlight &&
                       Clock::now() < until)
                    std::this_thread::sleep_for(10ms);
                f["threads_at_cap"] = std::to_string(threadCount() - threads);
                f["descriptors_at_cap"] = std::to_string(openDescriptorCount() - descriptors);
            }
        }
        f["threads_after"] = std::to_string(threadCount() - threads);
        f["descriptors_after"] = std::to_string(openDescriptorCount() - descriptors);
        return f;
    });
    constexpr int kCap = zorvek::resolve::kMaxLookupsInFlight;
    EXPECT_EQ(outcome.number("found"), 2 * kCap);
    for (int i = 0; i < 3 * kCap; ++i) {
        SCOPED_TRACE("stalled probe #" + std::to_string(i));
        EXPECT_EQ(outcome.number("code" + std::to_string(i)), ZORVEK_HOST_NOT_FOUND);
        // The first ones wait out their budget; the ones that find the cap do not.
        if (i >= kCap) {
            EXPECT_LT(outcome.seconds("seconds" + std::to_string(i)), 0.05);
        }
    }
    EXPECT_EQ(outcome.number("threads_at_cap"), kCap);
    EXPECT_GE(outcome.number("descriptors_at_cap"), kCap) << "the lookups never reached a server";
    EXPECT_EQ(outcome.number("threads_after"), outcome.number("threads_at_cap"));
    EXPECT_EQ(outcome.number("descriptors_after"), outcome.number("descriptors_at_cap"));
}

TEST(PingingNames, UnknownNameIsNotFound) {
    // Nothing listens on 127.0.0.1:53, so the resolver is refused at once.
    ZORVEK_RUN_SANDBOXED(outcome, resolverSandbox(), [] {
        Fields f;
        timedPing(f, "no-such-host.invalid");
        return f;
    });
    EXPECT_EQ(outcome.number("code"), ZORVEK_HOST_NOT_FOUND);
    EXPECT_LT(outcome.seconds("seconds"), 3.0);
}

TEST(PingingNames, MalformedNamesAreRejectedWithoutAQuery) {
    const std::vector<std::string> names = {
        "has space.invalid",
        "a..b.invalid",
        ".leading-dot.invalid",
        "[::1]",
        "bad!char.invalid",
        std::string(64, 'a') + ".invalid",                   // label longer than 63
        std::string(200, 'b') + "." + std::string(60, 'c'),  // name longer than 253
        "\x83\x65\x83\x58\x83\x67.invalid",                  // code page 932 bytes
    };
    ZORVEK_RUN_SANDBOXED(outcome, resolverSandbox(), [&names] {
        SilentNameServer server;
        Fields f;
        for (std::size_t i = 0; i < names.size(); ++i) {
            timedPing(f, names[i].c_str(), std::to_string(i) + "_");
        }
        f["query_seen"] = std::to_string(static_cast<int>(server.queryArrived()));
        return f;
    });
    for (std::size_t i = 0; i < names.size(); ++i) {
        SCOPED_TRACE("name #" + std::to_string(i) + ": " + names[i]);
        EXPECT_EQ(outcome.number(std::to_string(i) + "_code"), ZORVEK_HOST_NOT_FOUND);
    }
    EXPECT_EQ(outcome.number("query_seen"), 0);
}

TEST(PingingNames, AddressLiteralsNeverReachTheResolver) {
    ZORVEK_RUN_SANDBOXED(outcome, resolverSandbox(), [] {
        SilentNameServer server;
        Fields f;
        timedPing(f, "127.0.0.1", "v4_");
        timedPing(f, "::1", "v6_");
        timedPing(f, "0:0:0:0:0:0:0:1", "v6long_");
        f["query_seen"] = std::to_string(static_cast<int>(server.queryArrived()));
        return f;
    });
    EXPECT_EQ(outcome.number("v4_code"), ZORVEK_SUCCESS);
    EXPECT_EQ(outcome.number("v6_code"), ZORVEK_SUCCESS);
    EXPECT_EQ(outcome.number("v6long_code"), ZORVEK_SUCCESS);
    EXPECT_EQ(outcome.number("query_seen"), 0);
}

TEST(PingingNames, HostsFileNamesResolveWithoutTheNameServer) {
    ZORVEK_RUN_SANDBOXED(outcome, resolverSandbox(), [] {
        SilentNameServer server;
        Fields f;
        timedPing(f, "localhost", "plain_");
        timedPing(f, "LOCALHOST", "upper_");
        f["query_seen"] = std::to_string(static_cast<int>(server.queryArrived()));
        return f;
    });
    EXPECT_EQ(outcome.number("plain_code"), ZORVEK_SUCCESS);
    EXPECT_EQ(outcome.number("upper_code"), ZORVEK_SUCCESS);
    EXPECT_EQ(outcome.number("query_seen"), 0);
}

// A name with both kinds of address is probed over IPv4, whatever order the
// resolver returns them in; a name with only IPv6 is probed over IPv6.
TEST(PingingNames, DualStackNameIsProbedOverIPv4) {
    SandboxOptions options = resolverSandbox();
    options.extraHosts = "::1 dual.test\n127.0.0.1 dual.test\n::1 only6.test\n";
    options.ignoreEcho6 = true;  // only IPv4 answers, at first
    ZORVEK_RUN_SANDBOXED(outcome, options, [] {
        Fields f;
        timedPing(f, "dual.test", "dual_");
        std::ofstream("/proc/sys/net/ipv6/icmp/echo_ignore_all") << "0";
        timedPing(f, "only6.test", "only6_");
        return f;
    });
    EXPECT_EQ(outcome.number("dual_code"), ZORVEK_SUCCESS) << "IPv6 was probed instead of IPv4";
    EXPECT_EQ(outcome.number("only6_code"), ZORVEK_SUCCESS);
}

}  // namespace
}  // namespace zorvek_test
