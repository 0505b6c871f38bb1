// SPDX-License-Identifier: MIT
// Which replies end a probe. A responder in the same namespace watches our
// requests on a raw socket (the kernel itself is told to ignore echoes) and
// forges replies and errors, some right and some subtly wrong.
#include <gtest/gtest.h>
#include <netinet/in.h>

#include <string>
#include <tuple>
#include <vector>

#include "sandbox.h"
#include "zorvek.h"

namespace zorvek_test {
namespace {

constexpr std::size_t kCookieOffset = 8;  // payload starts after the 8-byte header

const char* target(int family) { return family == AF_INET ? "127.0.0.1" : "::1"; }
const char* familyName(int family) { return family == AF_INET ? "IPv4" : "IPv6"; }

SandboxOptions silentSandbox(SocketMode mode) {
    SandboxOptions options = optionsFor(mode);
    options.ignoreEcho4 = true;
    options.ignoreEcho6 = true;
    return options;
}

// Probes the loopback address of `family` with `policy` answering requests.
ChildOutcome probeWith(SocketMode mode, int family, Policy policy) {
    return runSandboxed(silentSandbox(mode), [=] {
        Responder responder(family, policy);  // raw sockets opened while still root
        enterMode(mode);
        responder.start();
        Fields f;
        timedPing(f, target(family));
        responder.stop();
        f["requests"] = std::to_string(responder.requestsSeen());
        f["forged"] = std::to_string(responder.packetsSent());
        return f;
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
    WrongSource,      // IPv4 only; sent from 127.0.0.2
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

std::vector<Fake> fakesFor(int family) {
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
                               Fake::ErrorForOtherDestination};
    if (family == AF_INET) {
        fakes.push_back(Fake::BadChecksum);
        fakes.push_back(Fake::WrongSource);
    }
    return fakes;
}

// ---- Per mode and family ---------------------------------------------------

class ReplyMatching : public ::testing::TestWithParam<std::tuple<SocketMode, int>> {};

TEST_P(ReplyMatching, SilentHostGivesUpAfterTwoRequestsWithinBound) {
    const auto [mode, family] = GetParam();
    const ChildOutcome outcome =
        probeWith(mode, family, [](const SeenRequest&) { return std::vector<Forged>{}; });
    if (outcome.kind == ChildOutcome::Kind::Skipped) GTEST_SKIP() << outcome.detail;
    ASSERT_EQ(outcome.kind, ChildOutcome::Kind::Done) << outcome.detail;
    EXPECT_EQ(outcome.number("code"), ZORVEK_PING_ERROR);
    EXPECT_EQ(outcome.number("requests"), 2);
    EXPECT_LT(outcome.seconds("seconds"), 3.0);
}

TEST_P(ReplyMatching, ExactReplyIsAccepted) {
    // The control for the forgeries below: the responder's own mirror image of
    // our request must be good enough.
    const auto [mode, family] = GetParam();
    const ChildOutcome outcome = probeWith(mode, family, [](const SeenRequest& req) {
        return std::vector<Forged>{Forged{mirrorReply(req)}};
    });
    if (outcome.kind == ChildOutcome::Kind::Skipped) GTEST_SKIP() << outcome.detail;
    ASSERT_EQ(outcome.kind, ChildOutcome::Kind::Done) << outcome.detail;
    EXPECT_EQ(outcome.number("code"), ZORVEK_SUCCESS);
    EXPECT_EQ(outcome.number("requests"), 1);
}

TEST_P(ReplyMatching, OnlyForeignRepliesAndErrorsMeansNoReply) {
    const auto [mode, family] = GetParam();
    const std::vector<Fake> fakes = fakesFor(family);
    const ChildOutcome outcome = probeWith(mode, family, [fakes](const SeenRequest& req) {
        std::vector<Forged> all;
        for (const Fake fake : fakes) {
            for (Forged& packet : make(fake, req)) all.push_back(std::move(packet));
        }
        return all;
    });
    if (outcome.kind == ChildOutcome::Kind::Skipped) GTEST_SKIP() << outcome.detail;
    ASSERT_EQ(outcome.kind, ChildOutcome::Kind::Done) << outcome.detail;
    EXPECT_EQ(outcome.number("code"), ZORVEK_PING_ERROR);
    EXPECT_EQ(outcome.number("requests"), 2);
    EXPECT_GE(outcome.number("forged"), 2 * static_cast<int>(fakes.size() - 1));
    EXPECT_LT(outcome.seconds("seconds"), 3.0);
}

TEST_P(ReplyMatching, ErrorAboutOurRequestEndsTheProbe) {
    const auto [mode, family] = GetParam();
    const ChildOutcome outcome = probeWith(mode, family, [](const SeenRequest& req) {
        return std::vector<Forged>{Forged{unreachableAbout(req, req.id, req.seq)}};
    });
    if (outcome.kind == ChildOutcome::Kind::Skipped) GTEST_SKIP() << outcome.detail;
    ASSERT_EQ(outcome.kind, ChildOutcome::Kind::Done) << outcome.detail;
    EXPECT_EQ(outcome.number("code"), ZORVEK_PING_ERROR);
    // It stopped at the error instead of sending the second request.
    EXPECT_EQ(outcome.number("requests"), 1);
}

INSTANTIATE_TEST_SUITE_P(All, ReplyMatching,
                         ::testing::Combine(::testing::Values(SocketMode::Raw,
                                                              SocketMode::Datagram),
                                            ::testing::Values(AF_INET, AF_INET6)),
                         [](const auto& info) {
                             return std::string(modeName(std::get<0>(info.param))) +
                                    familyName(std::get<1>(info.param));
                         });

// ---- One forgery at a time -------------------------------------------------
// The first request gets only the forgery, the second the true reply. If the
// forgery were taken for our reply the probe would end before sending the
// second request, which the responder would notice.

class ForgedFirstReply : public ::testing::TestWithParam<std::tuple<SocketMode, int, Fake>> {};

TEST_P(ForgedFirstReply, IsIgnoredAndTheRetryIsAnswered) {
    const auto [mode, family, chosen] = GetParam();
    const Fake fake = chosen;  // a plain variable, so the lambda can capture it
    const ChildOutcome outcome = probeWith(mode, family, [fake](const SeenRequest& req) {
        return req.ordinal == 1 ? make(fake, req) : std::vector<Forged>{Forged{mirrorReply(req)}};
    });
    if (outcome.kind == ChildOutcome::Kind::Skipped) GTEST_SKIP() << outcome.detail;
    ASSERT_EQ(outcome.kind, ChildOutcome::Kind::Done) << outcome.detail;
    EXPECT_EQ(outcome.number("requests"), 2) << "the forgery ended the probe";
    EXPECT_EQ(outcome.number("code"), ZORVEK_SUCCESS);
    EXPECT_LT(outcome.seconds("seconds"), 3.0);
}

std::vector<std::tuple<SocketMode, int, Fake>> allForgeries() {
    std::vector<std::tuple<SocketMode, int, Fake>> cases;
    for (const SocketMode mode : {SocketMode::Raw, SocketMode::Datagram}) {
        for (const int family : {AF_INET, AF_INET6}) {
            for (const Fake fake : fakesFor(family)) cases.emplace_back(mode, family, fake);
        }
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(All, ForgedFirstReply, ::testing::ValuesIn(allForgeries()),
                         [](const auto& info) {
                             return std::string(modeName(std::get<0>(info.param))) +
                                    familyName(std::get<1>(info.param)) +
                                    fakeName(std::get<2>(info.param));
                         });

}  // namespace
}  // namespace zorvek_test
