// SPDX-License-Identifier: MIT
// Which replies end a probe. A responder in the same namespace watches our
// requests on a raw socket (the kernel itself is told to ignore echoes) and
// forges replies and errors, some right and some subtly wrong. The exchange
// runs on shortened bounds, so a case takes milliseconds; one case runs the
// whole Pinging() on the real ones.
#include <gtest/gtest.h>
#include <netinet/in.h>

#include <chrono>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "echo.h"
#include "sandbox.h"
#include "zorvek.h"

namespace zorvek_test {
namespace {

using namespace std::chrono_literals;

constexpr std::size_t kCookieOffset = 8;  // payload starts after the 8-byte header

enum class Family { IPv4 = AF_INET, IPv6 = AF_INET6 };
void PrintTo(Family family, std::ostream* out) {
    *out << (family == Family::IPv4 ? "IPv4" : "IPv6");
}

// Shortened bounds for zorvek::echo::exchange.
struct Bounds {
    std::chrono::milliseconds retry;
    std::chrono::milliseconds deadline;
};
// A probe that must end at its first answer: the real retry interval, so a
// slow machine never sends a second request before the answer arrives.
constexpr Bounds kAnswered{1000ms, 2500ms};
// A probe that must wait: both requests and the deadline within 0.3 s.
constexpr Bounds kWaiting{100ms, 300ms};
// The first request gets a forgery, the retry the true reply. A forgery that
// arrived after the retry would only be judged more leniently, never fail
// the case.
constexpr Bounds kForgedFirst{60ms, 1000ms};

SandboxOptions silentSandbox(SocketMode mode) {
    SandboxOptions options = optionsFor(mode);
    options.ignoreEcho4 = true;
    options.ignoreEcho6 = true;
    return options;
}

// Probes the loopback address of `family` with `policy` answering requests.
ChildOutcome probeWith(SocketMode mode, Family family, Policy policy, Bounds bounds) {
    return runSandboxed(silentSandbox(mode), [=] {
        Responder responder(static_cast<int>(family), policy);  // raw sockets opened as root
        enterMode(mode);
        responder.start();
        const auto start = Clock::now();
        const auto outcome = zorvek::echo::exchange({loopbackAddress(static_cast<int>(family))},
                                                    start + bounds.deadline, bounds.retry);
        const std::chrono::duration<double> took = Clock::now() - start;
        responder.stop(20ms);
        return Fields{{"outcome", outcomeName(outcome)},
                      {"seconds", std::to_string(took.count())},
                      {"requests", std::to_string(responder.requestsSeen())},
                      {"forged", std::to_string(responder.packetsSent())}};
    });
}

// Ways to get a reply or an error almost right.
enum class Fake {
    Nothing,  // request lost, nothing comes back
    WrongIdentifier,
    StaleSequence,   // two before this request: never one of ours in this call
    UnsentSequence,  // the sequence number our next request will use
    WrongCookie,
    WrongPayloadTail,
    ShortPayload,
    BadChecksum,      // IPv4 only; the kernel checksums ICMPv6 itself
    WrongSource,      // sent from 127.0.0.2 or fd00::2
    MirroredRequest,  // an echo request, not a reply
    ErrorForOtherIdentifier,
    ErrorForOtherSequence,
    ErrorForOtherDestination,
};

const char* fakeName(Fake fake) {
    switch (fake) {
        case Fake::Nothing: return "Nothing";
        case Fake::WrongIdentifier: return "WrongIdentifier";
        case Fake::StaleSequence: return "StaleSequence";
        case Fake::UnsentSequence: return "UnsentSequence";
        case Fake::WrongCookie: return "WrongCookie";
        case Fake::WrongPayloadTail: return "WrongPayloadTail";
        case Fake::ShortPayload: return "ShortPayload";
        case Fake::BadChecksum: return "BadChecksum";
        case Fake::WrongSource: return "WrongSource";
        case Fake::MirroredRequest: return "MirroredRequest";
        case Fake::ErrorForOtherIdentifier: return "ErrorForOtherIdentifier";
        case Fake::ErrorForOtherSequence: return "ErrorForOtherSequence";
        case Fake::ErrorForOtherDestination: return "ErrorForOtherDestination";
    }
    return "?";
}

std::vector<Forged> make(Fake fake, const SeenRequest& req) {
    std::vector<std::uint8_t> reply = mirrorReply(req);
    switch (fake) {
        case Fake::Nothing: return {};
        case Fake::WrongIdentifier:
            store16(reply, 4, static_cast<std::uint16_t>(req.id ^ 0x0101));
            break;
        case Fake::StaleSequence: store16(reply, 6, static_cast<std::uint16_t>(req.seq - 2)); break;
        case Fake::UnsentSequence:
            store16(reply, 6, static_cast<std::uint16_t>(req.seq + 1));
            break;
        case Fake::WrongCookie: reply[kCookieOffset + 3] ^= 0x5a; break;
        case Fake::WrongPayloadTail: reply.back() ^= 0x01; break;
        case Fake::ShortPayload: reply.resize(reply.size() - 8); break;
        case Fake::BadChecksum:
            store16(reply, 2, static_cast<std::uint16_t>((reply[2] << 8 | reply[3]) ^ 0x0001));
            return {Forged{reply}};
        case Fake::WrongSource: return {Forged{reply, true}};
        case Fake::MirroredRequest: return {Forged{req.icmp}};
        case Fake::ErrorForOtherIdentifier:
            return {Forged{
                unreachableAbout(req, static_cast<std::uint16_t>(req.id ^ 0x0101), req.seq)}};
        case Fake::ErrorForOtherSequence:
            return {Forged{
                unreachableAbout(req, req.id, static_cast<std::uint16_t>(req.seq + 0x1000))}};
        case Fake::ErrorForOtherDestination:
            return {Forged{unreachableAbout(req, req.id, req.seq, 3)}};
    }
    fixChecksum(req.family, reply);
    return {Forged{reply}};
}

std::vector<Fake> fakesFor(Family family) {
    std::vector<Fake> fakes = {Fake::Nothing,
                               Fake::WrongIdentifier,
                               Fake::StaleSequence,
                               Fake::UnsentSequence,
                               Fake::WrongCookie,
                               Fake::WrongPayloadTail,
                               Fake::ShortPayload,
                               Fake::MirroredRequest,
                               Fake::ErrorForOtherIdentifier,
                               Fake::ErrorForOtherSequence,
                               Fake::ErrorForOtherDestination,
                               Fake::WrongSource};
    if (family == Family::IPv4) fakes.push_back(Fake::BadChecksum);
    return fakes;
}

// ---- Per mode and family ---------------------------------------------------

class ReplyMatching : public ::testing::TestWithParam<std::tuple<SocketMode, Family>> {};

TEST_P(ReplyMatching, SilentHostGivesUpAfterTwoRequestsAtTheDeadline) {
    const auto [mode, family] = GetParam();
    const ChildOutcome outcome = probeWith(
        mode, family, [](const SeenRequest&) { return std::vector<Forged>{}; }, kWaiting);
    if (outcome.kind == ChildOutcome::Kind::Skipped) GTEST_SKIP() << outcome.detail;
    ASSERT_EQ(outcome.kind, ChildOutcome::Kind::Done) << outcome.detail;
    EXPECT_EQ(outcome.at("outcome"), "NoReply");
    EXPECT_EQ(outcome.number("requests"), 2);
    EXPECT_GE(outcome.seconds("seconds"), 0.29) << "gave up before the deadline";
}

TEST_P(ReplyMatching, ExactReplyIsAccepted) {
    // The control for the forgeries below: the responder's own mirror image of
    // our request must be good enough.
    const auto [mode, family] = GetParam();
    const ChildOutcome outcome = probeWith(
        mode, family,
        [](const SeenRequest& req) { return std::vector<Forged>{Forged{mirrorReply(req)}}; },
        kAnswered);
    if (outcome.kind == ChildOutcome::Kind::Skipped) GTEST_SKIP() << outcome.detail;
    ASSERT_EQ(outcome.kind, ChildOutcome::Kind::Done) << outcome.detail;
    EXPECT_EQ(outcome.at("outcome"), "Reply");
    EXPECT_EQ(outcome.number("requests"), 1);
}

TEST_P(ReplyMatching, OnlyForeignRepliesAndErrorsMeansNoReply) {
    const auto [mode, family] = GetParam();
    const std::vector<Fake> fakes = fakesFor(family);
    const ChildOutcome outcome = probeWith(
        mode, family,
        [fakes](const SeenRequest& req) {
            std::vector<Forged> all;
            for (const Fake fake : fakes) {
                // Answered to the first request, the next sequence number is
                // the retry's own true reply whenever it arrives after the
                // retry was sent (on a loaded machine it may): only the
                // second request's next number is never sent in this call.
                // ForgedFirstReply covers it arriving before the retry.
                if (fake == Fake::UnsentSequence && req.ordinal == 1) continue;
                for (Forged& packet : make(fake, req)) all.push_back(std::move(packet));
            }
            return all;
        },
        kWaiting);
    if (outcome.kind == ChildOutcome::Kind::Skipped) GTEST_SKIP() << outcome.detail;
    ASSERT_EQ(outcome.kind, ChildOutcome::Kind::Done) << outcome.detail;
    EXPECT_EQ(outcome.at("outcome"), "NoReply");
    EXPECT_EQ(outcome.number("requests"), 2);
    // Two of each fake but Nothing, less the one unsent sequence left out above.
    EXPECT_GE(outcome.number("forged"), 2 * static_cast<int>(fakes.size() - 1) - 1);
}

TEST_P(ReplyMatching, ErrorAboutOurRequestEndsTheProbe) {
    const auto [mode, family] = GetParam();
    const ChildOutcome outcome = probeWith(
        mode, family,
        [](const SeenRequest& req) {
            return std::vector<Forged>{Forged{unreachableAbout(req, req.id, req.seq)}};
        },
        kAnswered);
    if (outcome.kind == ChildOutcome::Kind::Skipped) GTEST_SKIP() << outcome.detail;
    ASSERT_EQ(outcome.kind, ChildOutcome::Kind::Done) << outcome.detail;
    EXPECT_EQ(outcome.at("outcome"), "NoReply");
    // It stopped at the error instead of sending the second request.
    EXPECT_EQ(outcome.number("requests"), 1);
    EXPECT_LT(outcome.seconds("seconds"), 1.0);
}

INSTANTIATE_TEST_SUITE_P(All, ReplyMatching,
                         ::testing::Combine(::testing::Values(SocketMode::Raw,
                                                              SocketMode::Datagram),
                                            ::testing::Values(Family::IPv4, Family::IPv6)),
                         PrintedParamName());

// ---- The real bounds, through the exported function -------------------------

TEST(ReplyMatchingOnRealBounds, SilentHostGetsTwoRequestsASecondApartWithinTheBound) {
    const ChildOutcome outcome = runSandboxed(silentSandbox(SocketMode::Datagram), [] {
        Responder responder(AF_INET6, [](const SeenRequest&) { return std::vector<Forged>{}; });
        enterMode(SocketMode::Datagram);
        responder.start();
        Fields f;
        timedPing(f, "::1");
        responder.stop(20ms);
        f["requests"] = std::to_string(responder.requestsSeen());
        f["between"] = std::to_string(responder.secondsBetweenRequests());
        return f;
    });
    if (outcome.kind == ChildOutcome::Kind::Skipped) GTEST_SKIP() << outcome.detail;
    ASSERT_EQ(outcome.kind, ChildOutcome::Kind::Done) << outcome.detail;
    EXPECT_EQ(outcome.number("code"), ZORVEK_PING_ERROR);
    EXPECT_EQ(outcome.number("requests"), 2);
    EXPECT_NEAR(outcome.seconds("between"), 1.0, 0.2);
    EXPECT_GE(outcome.seconds("seconds"), 2.4);
    EXPECT_LT(outcome.seconds("seconds"), 3.0);
}

// ---- One forgery at a time -------------------------------------------------
// The first request gets only the forgery, the second the true reply. If the
// forgery were taken for our reply the probe would end before sending the
// second request, which the responder would notice. Each forgery gets a
// fresh namespace; one test per mode and family runs them all.

class ForgedFirstReply : public ::testing::TestWithParam<std::tuple<SocketMode, Family>> {};

TEST_P(ForgedFirstReply, EachIsIgnoredAndTheRetryIsAnswered) {
    const auto [mode, family] = GetParam();
    for (const Fake fake : fakesFor(family)) {
        SCOPED_TRACE(fakeName(fake));
        const ChildOutcome outcome = probeWith(
            mode, family,
            [fake](const SeenRequest& req) {
                return req.ordinal == 1 ? make(fake, req)
                                        : std::vector<Forged>{Forged{mirrorReply(req)}};
            },
            kForgedFirst);
        if (outcome.kind == ChildOutcome::Kind::Skipped) GTEST_SKIP() << outcome.detail;
        ASSERT_EQ(outcome.kind, ChildOutcome::Kind::Done) << outcome.detail;
        EXPECT_EQ(outcome.number("requests"), 2) << "the forgery ended the probe";
        EXPECT_EQ(outcome.at("outcome"), "Reply");
    }
}

INSTANTIATE_TEST_SUITE_P(All, ForgedFirstReply,
                         ::testing::Combine(::testing::Values(SocketMode::Raw,
                                                              SocketMode::Datagram),
                                            ::testing::Values(Family::IPv4, Family::IPv6)),
                         PrintedParamName());

}  // namespace
}  // namespace zorvek_test
