// SPDX-License-Identifier: MIT
// Socket availability and local send failures.
#include <gtest/gtest.h>

#include "sandbox.h"
#include "zorvek.h"

namespace zorvek_test {
namespace {

TEST(PingingSockets, NoIcmpSocketAllowedGivesMinusFourPromptly) {
    SandboxOptions options;
    options.pingGroupRange = "1 0";  // no group may open ping sockets
    options.privateResolver = true;
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
    // Loopback left down: no route even to 127.0.0.1 or ::1, so the send fails.
    SandboxOptions options;
    options.loopbackUp = false;
    ZORVEK_RUN_SANDBOXED(outcome, options, [] {
        Fields f;
        timedPing(f, "127.0.0.1", "v4_");
        timedPing(f, "::1", "v6_");
        return f;
    });
    for (const char* prefix : {"v4_", "v6_"}) {
        SCOPED_TRACE(prefix);
        EXPECT_EQ(outcome.number(std::string(prefix) + "code"), ZORVEK_PING_ERROR);
        EXPECT_LT(outcome.seconds(std::string(prefix) + "seconds"), 1.0);
    }
}

}  // namespace
}  // namespace zorvek_test
