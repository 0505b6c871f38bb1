// SPDX-License-Identifier: MIT
// Socket availability, the system's ping as the last way, local send
// failures and a full descriptor table.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <fcntl.h>
#include <cerrno>
#include <fstream>

#include "sandbox.h"
#include "zorvek.h"

namespace zorvek_test {
namespace {

TEST(PingingSockets, NoIcmpSocketAndNoPingProgramGivesMinusFourPromptly) {
    SandboxOptions options;
    options.pingGroupRange = "1 0";  // no group may open ping sockets
    options.privateResolver = true;
    options.hidePingProgram = true;
    ZORVEK_RUN_SANDBOXED(outcome, options, [] {
        dropToNobody();  // and no CAP_NET_RAW for a raw socket
        Fields f;
        timedPing(f, "127.0.0.1", "v4_");
        timedPing(f, "::1", "v6_");
        timedPing(f, "localhost", "name_");
        return f;
    });
    for (const char* prefix : {"v4_", "v6_", "name_"}) {
        SCOPED_TRACE(prefix);
        EXPECT_EQ(outcome.number(std::string(prefix) + "code"), ZORVEK_NO_SOCKET);
        EXPECT_LT(outcome.seconds(std::string(prefix) + "seconds"), 1.0);
    }
}

TEST(PingingSockets, UnroutableDestinationFailsWithoutWaiting) {
    // Loopback left down: no route even to 127.0.0.1 or ::1, so the send fails
    // (root, raw socket) or the system's ping is not even started (nobody).
    // Either way that is a network error, not a missing permission.
    SandboxOptions options;
    options.loopbackUp = false;
    options.pingGroupRange = "1 0";
    ZORVEK_RUN_SANDBOXED(outcome, options, [] {
        Fields f;
        timedPing(f, "127.0.0.1", "v4_");
        timedPing(f, "::1", "v6_");
        dropToNobody();
        timedPing(f, "127.0.0.1", "ping4_");
        timedPing(f, "::1", "ping6_");
        return f;
    });
    for (const char* prefix : {"v4_", "v6_", "ping4_", "ping6_"}) {
        SCOPED_TRACE(prefix);
        EXPECT_EQ(outcome.number(std::string(prefix) + "code"), ZORVEK_PING_ERROR);
        EXPECT_LT(outcome.seconds(std::string(prefix) + "seconds"), 1.0);
    }
}

// A name with both kinds of address whose IPv4 address has no route is
// probed over IPv6 instead, by socket (root) and through ping (nobody).
TEST(PingingSockets, NoIpv4RouteFallsBackToTheNamesIpv6Address) {
    SandboxOptions options;
    options.ipv4Loopback = false;
    options.pingGroupRange = "1 0";
    options.privateResolver = true;
    options.extraHosts = "127.0.0.1 dual.test\n::1 dual.test\n";
    ZORVEK_RUN_SANDBOXED(outcome, options, [] {
        Fields f;
        timedPing(f, "dual.test", "socket_");
        dropToNobody();
        timedPing(f, "dual.test", "ping_");
        return f;
    });
    EXPECT_EQ(outcome.number("socket_code"), ZORVEK_SUCCESS);
    EXPECT_EQ(outcome.number("ping_code"), ZORVEK_SUCCESS);
}

// A refused ping socket is remembered for a while, and a raw one asked for
// first meanwhile; when raw is refused too (privileges given up) and ping
// sockets are allowed by now, the ping socket is used, not reported missing.
TEST(PingingSockets, APermissionChangeIsPickedUpAtOnce) {
    SandboxOptions options;
    options.pingGroupRange = "1 0";
    options.hidePingProgram = true;  // so that a missing socket shows as -4
    ZORVEK_RUN_SANDBOXED(outcome, options, [] {
        Fields f;
        timedPing(f, "127.0.0.1", "raw_");
        std::ofstream("/proc/sys/net/ipv4/ping_group_range") << "0 2147483647\n";
        dropToNobody();
        timedPing(f, "127.0.0.1", "datagram_");
        return f;
    });
    EXPECT_EQ(outcome.number("raw_code"), ZORVEK_SUCCESS);
    EXPECT_EQ(outcome.number("datagram_code"), ZORVEK_SUCCESS);
}

// With every descriptor in use nothing can be opened: a clear code, no abort,
// and no -4, which means "not permitted" (no ping program to fall back on
// either, so a shortage taken for a refusal would show as -4). Then as
// nobody, ping present: its route check finds no descriptor either. Only
// address literals: a name's lookup starts a thread, and the sanitizer's
// check of the thread object's type needs a pipe of its own.
TEST(PingingSockets, FullDescriptorTableGivesPlainFailures) {
    const auto fullTable = [](bool asNobody) {
        return [asNobody] {
            if (asNobody) dropToNobody();
            const rlimit few{64, 64};
            if (::setrlimit(RLIMIT_NOFILE, &few) != 0) throw std::runtime_error("setrlimit");
            while (::open("/dev/null", O_RDONLY | O_CLOEXEC) >= 0) {
            }
            Fields f{{"filled", std::to_string(errno == EMFILE)}};
            timedPing(f, "127.0.0.1", "v4_");
            timedPing(f, "::1", "v6_");
            return f;
        };
    };
    SandboxOptions options;
    options.pingGroupRange = "1 0";
    options.hidePingProgram = true;
    ZORVEK_RUN_SANDBOXED(asRoot, options, fullTable(false));
    options.hidePingProgram = false;
    ZORVEK_RUN_SANDBOXED(asNobody, options, fullTable(true));
    for (const ChildOutcome* outcome : {&asRoot, &asNobody}) {
        ASSERT_EQ(outcome->number("filled"), 1);
        EXPECT_EQ(outcome->number("v4_code"), ZORVEK_PING_ERROR);
        EXPECT_EQ(outcome->number("v6_code"), ZORVEK_PING_ERROR);
    }
}

}  // namespace
}  // namespace zorvek_test
