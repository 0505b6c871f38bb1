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

const char *Target(int family) { return family == AF_INET ? "127.0.0.1" : "::1"; }
const char *FamilyName(int family) { return family == AF_INET ? "IPv4" : "IPv6"; }

SandboxOptions SilentSandbox(SocketMode mode) {
  SandboxOptions options = OptionsFor(mode);
  options.ignore_echo4 = true;
  options.ignore_echo6 = true;
  return options;
}

// Probes the loopback address of `family` with `policy` answering requests.
ChildOutcome ProbeWith(SocketMode mode, int family, Policy policy) {
  return RunSandboxed(SilentSandbox(mode), [=] {
    Responder responder(family, policy);  // raw sockets opened while still root
    EnterMode(mode);
    responder.Start();
    Fields f;
    TimedPing(f, Target(family));
    responder.Stop();
    f["requests"] = std::to_string(responder.requests_seen());
    f["forged"] = std::to_string(responder.packets_sent());
    return f;
  });
}

// Ways to get a reply or an error almost right.
enum class Fake {
  kNothing,              // request lost, nothing comes back
  kWrongIdentifier,
  kStaleSequence,        // two before this request: never one of ours in this call
  kUnsentSequence,       // the sequence number our next request will use
  kWrongCookie,
  kWrongPayloadTail,
  kShortPayload,
  kBadChecksum,          // IPv4 only; the kernel checksums ICMPv6 itself
  kWrongSource,          // IPv4 only; sent from 127.0.0.2
  kMirroredRequest,      // an echo request, not a reply
  kErrorForOtherIdentifier,
  kErrorForOtherSequence,
  kErrorForOtherDestination,
};

const char *FakeName(Fake fake) {
  switch (fake) {
    case Fake::kNothing: return "Nothing";
    case Fake::kWrongIdentifier: return "WrongIdentifier";
    case Fake::kStaleSequence: return "StaleSequence";
    case Fake::kUnsentSequence: return "UnsentSequence";
    case Fake::kWrongCookie: return "WrongCookie";
    case Fake::kWrongPayloadTail: return "WrongPayloadTail";
    case Fake::kShortPayload: return "ShortPayload";
    case Fake::kBadChecksum: return "BadChecksum";
    case Fake::kWrongSource: return "WrongSource";
    case Fake::kMirroredRequest: return "MirroredRequest";
    case Fake::kErrorForOtherIdentifier: return "ErrorForOtherIdentifier";
    case Fake::kErrorForOtherSequence: return "ErrorForOtherSequence";
    case Fake::kErrorForOtherDestination: return "ErrorForOtherDestination";
  }
  return "?";
}

std::vector<Forged> Make(Fake fake, const SeenRequest &req) {
  std::vector<std::uint8_t> reply = MirrorReply(req);
  switch (fake) {
    case Fake::kNothing:
      return {};
    case Fake::kWrongIdentifier:
      Store16(reply, 4, static_cast<std::uint16_t>(req.id ^ 0x0101));
      break;
    case Fake::kStaleSequence:
      Store16(reply, 6, static_cast<std::uint16_t>(req.seq - 2));
      break;
    case Fake::kUnsentSequence:
      Store16(reply, 6, static_cast<std::uint16_t>(req.seq + 1));
      break;
    case Fake::kWrongCookie:
      reply[kCookieOffset + 3] ^= 0x5a;
      break;
    case Fake::kWrongPayloadTail:
      reply.back() ^= 0x01;
      break;
    case Fake::kShortPayload:
      reply.resize(reply.size() - 8);
      break;
    case Fake::kBadChecksum:
      Store16(reply, 2, static_cast<std::uint16_t>((reply[2] << 8 | reply[3]) ^ 0x0001));
      return {Forged{reply}};
    case Fake::kWrongSource:
      return {Forged{reply, true}};
    case Fake::kMirroredRequest:
      return {Forged{req.icmp}};
    case Fake::kErrorForOtherIdentifier:
      return {Forged{UnreachableAbout(req, static_cast<std::uint16_t>(req.id ^ 0x0101), req.seq)}};
    case Fake::kErrorForOtherSequence:
      return {Forged{UnreachableAbout(req, req.id, static_cast<std::uint16_t>(req.seq + 0x1000))}};
    case Fake::kErrorForOtherDestination:
      return {Forged{UnreachableAbout(req, req.id, req.seq, 3)}};
  }
  FixChecksum(req.family, reply);
  return {Forged{reply}};
}

std::vector<Fake> FakesFor(int family) {
  std::vector<Fake> fakes = {Fake::kNothing,          Fake::kWrongIdentifier,
                             Fake::kStaleSequence,  Fake::kUnsentSequence,
                             Fake::kWrongCookie,      Fake::kWrongPayloadTail,
                             Fake::kShortPayload,     Fake::kMirroredRequest,
                             Fake::kErrorForOtherIdentifier, Fake::kErrorForOtherSequence,
                             Fake::kErrorForOtherDestination};
  if (family == AF_INET) {
    fakes.push_back(Fake::kBadChecksum);
    fakes.push_back(Fake::kWrongSource);
  }
  return fakes;
}

// ---- Per mode and family ---------------------------------------------------

class ReplyMatching : public ::testing::TestWithParam<std::tuple<SocketMode, int>> {};

TEST_P(ReplyMatching, SilentHostGivesUpAfterTwoRequestsWithinBound) {
  const auto [mode, family] = GetParam();
  const ChildOutcome outcome = ProbeWith(mode, family, [](const SeenRequest &) {
    return std::vector<Forged>{};
  });
  if (outcome.kind == ChildOutcome::Kind::kSkipped) GTEST_SKIP() << outcome.detail;
  ASSERT_EQ(outcome.kind, ChildOutcome::Kind::kDone) << outcome.detail;
  EXPECT_EQ(outcome.number("code"), ZORVEK_PING_ERROR);
  EXPECT_EQ(outcome.number("requests"), 2);
  EXPECT_LT(outcome.seconds("seconds"), 3.0);
}

TEST_P(ReplyMatching, ExactReplyIsAccepted) {
  // The control for the forgeries below: the responder's own mirror image of
  // our request must be good enough.
  const auto [mode, family] = GetParam();
  const ChildOutcome outcome = ProbeWith(mode, family, [](const SeenRequest &req) {
    return std::vector<Forged>{Forged{MirrorReply(req)}};
  });
  if (outcome.kind == ChildOutcome::Kind::kSkipped) GTEST_SKIP() << outcome.detail;
  ASSERT_EQ(outcome.kind, ChildOutcome::Kind::kDone) << outcome.detail;
  EXPECT_EQ(outcome.number("code"), ZORVEK_SUCCESS);
  EXPECT_EQ(outcome.number("requests"), 1);
}

TEST_P(ReplyMatching, OnlyForeignRepliesAndErrorsMeansNoReply) {
  const auto [mode, family] = GetParam();
  const std::vector<Fake> fakes = FakesFor(family);
  const ChildOutcome outcome = ProbeWith(mode, family, [fakes](const SeenRequest &req) {
    std::vector<Forged> all;
    for (const Fake fake : fakes) {
      for (Forged &packet : Make(fake, req)) all.push_back(std::move(packet));
    }
    return all;
  });
  if (outcome.kind == ChildOutcome::Kind::kSkipped) GTEST_SKIP() << outcome.detail;
  ASSERT_EQ(outcome.kind, ChildOutcome::Kind::kDone) << outcome.detail;
  EXPECT_EQ(outcome.number("code"), ZORVEK_PING_ERROR);
  EXPECT_EQ(outcome.number("requests"), 2);
  EXPECT_GE(outcome.number("forged"), 2 * static_cast<int>(fakes.size() - 1));
  EXPECT_LT(outcome.seconds("seconds"), 3.0);
}

TEST_P(ReplyMatching, ErrorAboutOurRequestEndsTheProbe) {
  const auto [mode, family] = GetParam();
  const ChildOutcome outcome = ProbeWith(mode, family, [](const SeenRequest &req) {
    return std::vector<Forged>{Forged{UnreachableAbout(req, req.id, req.seq)}};
  });
  if (outcome.kind == ChildOutcome::Kind::kSkipped) GTEST_SKIP() << outcome.detail;
  ASSERT_EQ(outcome.kind, ChildOutcome::Kind::kDone) << outcome.detail;
  EXPECT_EQ(outcome.number("code"), ZORVEK_PING_ERROR);
  // It stopped at the error instead of sending the second request.
  EXPECT_EQ(outcome.number("requests"), 1);
}

INSTANTIATE_TEST_SUITE_P(
    All, ReplyMatching,
    ::testing::Combine(::testing::Values(SocketMode::kRaw, SocketMode::kDatagram),
                       ::testing::Values(AF_INET, AF_INET6)),
    [](const auto &info) {
      return std::string(ModeName(std::get<0>(info.param))) + FamilyName(std::get<1>(info.param));
    });

// ---- One forgery at a time -------------------------------------------------
// The first request gets only the forgery, the second the true reply. If the
// forgery were taken for our reply the probe would end before sending the
// second request, which the responder would notice.

class ForgedFirstReply
    : public ::testing::TestWithParam<std::tuple<SocketMode, int, Fake>> {};

TEST_P(ForgedFirstReply, IsIgnoredAndTheRetryIsAnswered) {
  const auto [mode, family, chosen] = GetParam();
  const Fake fake = chosen;  // a plain variable, so the lambda can capture it
  const ChildOutcome outcome = ProbeWith(mode, family, [fake](const SeenRequest &req) {
    return req.ordinal == 1 ? Make(fake, req) : std::vector<Forged>{Forged{MirrorReply(req)}};
  });
  if (outcome.kind == ChildOutcome::Kind::kSkipped) GTEST_SKIP() << outcome.detail;
  ASSERT_EQ(outcome.kind, ChildOutcome::Kind::kDone) << outcome.detail;
  EXPECT_EQ(outcome.number("requests"), 2) << "the forgery ended the probe";
  EXPECT_EQ(outcome.number("code"), ZORVEK_SUCCESS);
  EXPECT_LT(outcome.seconds("seconds"), 3.0);
}

std::vector<std::tuple<SocketMode, int, Fake>> AllForgeries() {
  std::vector<std::tuple<SocketMode, int, Fake>> cases;
  for (const SocketMode mode : {SocketMode::kRaw, SocketMode::kDatagram}) {
    for (const int family : {AF_INET, AF_INET6}) {
      for (const Fake fake : FakesFor(family)) cases.emplace_back(mode, family, fake);
    }
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(All, ForgedFirstReply, ::testing::ValuesIn(AllForgeries()),
                         [](const auto &info) {
                           return std::string(ModeName(std::get<0>(info.param))) +
                                  FamilyName(std::get<1>(info.param)) +
                                  FakeName(std::get<2>(info.param));
                         });

}  // namespace
}  // namespace zorvek_test
