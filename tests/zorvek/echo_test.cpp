// SPDX-License-Identifier: MIT
// Real echo exchanges over loopback: the machine's own namespace, then fresh
// namespaces where only a raw or only a datagram socket is possible, or
// only the system's ping.
#include <gtest/gtest.h>
#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "echo.h"
#include "sandbox.h"
#include "system_ping.h"
#include "zorvek.h"

namespace zorvek_test {
namespace {

using namespace std::chrono_literals;

TEST(PollTimeout, NeverNegativeAndNeverWrapsRound) {
    using std::chrono::milliseconds;
    EXPECT_EQ(zorvek::echo::pollTimeout(milliseconds(-5)), 0);
    EXPECT_EQ(zorvek::echo::pollTimeout(milliseconds(250)), 250);
    // A deadline decades away must not turn into a negative (endless) or a
    // tiny (busy) wait.
    EXPECT_EQ(zorvek::echo::pollTimeout(std::chrono::hours(24 * 365 * 100)),
              std::numeric_limits<int>::max());
}

TEST(PingingInput, NullOrEmptyHostIsRejected) {
    EXPECT_EQ(Pinging(nullptr), ZORVEK_EMPTY_HOST);
    EXPECT_EQ(Pinging(""), ZORVEK_EMPTY_HOST);
}

TEST(PingingLoopback, LiteralsAnswerInThisNamespace) {
    if (!canOpenIcmpSocket()) GTEST_SKIP() << "no ICMP socket allowed for this user";
    EXPECT_EQ(Pinging("127.0.0.1"), ZORVEK_SUCCESS);
    EXPECT_EQ(Pinging("::1"), ZORVEK_SUCCESS);
}

TEST(PingingLoopback, ConcurrentCallsAllSucceed) {
    if (!canOpenIcmpSocket()) GTEST_SKIP() << "no ICMP socket allowed for this user";
    constexpr int kThreads = 8;
    constexpr int kCallsEach = 5;
    std::atomic<int> successes{0};
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kCallsEach; ++i) {
                const char* host = (t + i) % 2 == 0 ? "127.0.0.1" : "::1";
                (Pinging(host) == ZORVEK_SUCCESS ? successes : failures)++;
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(successes.load(), kThreads * kCallsEach);
}

class PingingInSandbox : public ::testing::TestWithParam<SocketMode> {};

TEST_P(PingingInSandbox, LoopbackAnswersByAddressAndName) {
    const SocketMode mode = GetParam();
    SandboxOptions options = optionsFor(mode);
    options.privateResolver = true;
    ZORVEK_RUN_SANDBOXED(outcome, options, [mode] {
        enterMode(mode);
        Fields f;
        timedPing(f, "127.0.0.1", "v4_");
        timedPing(f, "::1", "v6_");
        timedPing(f, "localhost", "name_");
        timedPing(f, "ip6-localhost", "name6_");
        return f;
    });
    EXPECT_EQ(outcome.number("v4_code"), ZORVEK_SUCCESS);
    EXPECT_EQ(outcome.number("v6_code"), ZORVEK_SUCCESS);
    EXPECT_EQ(outcome.number("name_code"), ZORVEK_SUCCESS);
    EXPECT_EQ(outcome.number("name6_code"), ZORVEK_SUCCESS);
}

TEST_P(PingingInSandbox, ConcurrentCallsAllSucceed) {
    const SocketMode mode = GetParam();
    ZORVEK_RUN_SANDBOXED(outcome, optionsFor(mode), [mode] {
        enterMode(mode);
        std::atomic<int> successes{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 8; ++t) {
            threads.emplace_back([&, t] {
                for (int i = 0; i < 5; ++i) {
                    if (Pinging((t + i) % 2 == 0 ? "127.0.0.1" : "::1") == ZORVEK_SUCCESS)
                        ++successes;
                }
            });
        }
        for (auto& th : threads) th.join();
        return Fields{{"successes", std::to_string(successes.load())}};
    });
    EXPECT_EQ(outcome.number("successes"), 40);
}

TEST_P(PingingInSandbox, CallsLeaveNoDescriptorsOpen) {
    const SocketMode mode = GetParam();
    SandboxOptions options = optionsFor(mode);
    options.privateResolver = true;
    options.ignoreEcho6 = true;  // one exchange runs into its (short) deadline
    ZORVEK_RUN_SANDBOXED(outcome, options, [mode] {
        enterMode(mode);
        Fields f;
        const int before = openDescriptorCount();
        timedPing(f, "127.0.0.1", "ok_");
        // Where only ping(8) may probe, it is killed at the (short) deadline.
        namespace system_ping = zorvek::system_ping;
        const auto silent =
            mode == SocketMode::PingProgram
                ? system_ping::probe(system_ping::find(system_ping::kLocations),
                                     {loopbackAddress(AF_INET6)}, Clock::now() + 300ms)
                : zorvek::echo::exchange({loopbackAddress(AF_INET6)}, Clock::now() + 200ms, 50ms);
        f["silent"] = outcomeName(silent);
        timedPing(f, "", "empty_");
        timedPing(f, "not a host name", "invalid_");
        timedPing(f, "localhost", "name_");
        f["opened"] = std::to_string(openDescriptorCount() - before);
        return f;
    });
    EXPECT_EQ(outcome.number("ok_code"), ZORVEK_SUCCESS);
    EXPECT_EQ(outcome.at("silent"), "NoReply");
    EXPECT_EQ(outcome.number("empty_code"), ZORVEK_EMPTY_HOST);
    EXPECT_EQ(outcome.number("invalid_code"), ZORVEK_HOST_NOT_FOUND);
    EXPECT_EQ(outcome.number("name_code"), ZORVEK_SUCCESS);
    EXPECT_EQ(outcome.number("opened"), 0);
}

INSTANTIATE_TEST_SUITE_P(Modes, PingingInSandbox,
                         ::testing::Values(SocketMode::Raw, SocketMode::Datagram,
                                           SocketMode::PingProgram),
                         PrintedParamName());

}  // namespace
}  // namespace zorvek_test
