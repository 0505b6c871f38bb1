// The packet layer on its own: building requests and judging what comes back.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cstring>
#include <string>
#include <vector>

#include "icmp_packet.h"
#include "resolver.h"
#include "sandbox.h"  // independent checksum for building test packets

namespace zorvek_test {
namespace {

using zorvek::icmp::Expectation;
using zorvek::icmp::Verdict;
using Bytes = std::vector<std::uint8_t>;

zorvek::icmp::Cookie TestCookie(std::uint8_t seed) {
  zorvek::icmp::Cookie cookie{};
  for (std::size_t i = 0; i < cookie.size(); ++i) cookie[i] = static_cast<std::uint8_t>(seed + 7 * i);
  return cookie;
}

Expectation V4(bool with_ip_header) {
  Expectation e;
  e.family = AF_INET;
  e.with_ip_header = with_ip_header;
  inet_pton(AF_INET, "127.0.0.1", &e.target4);
  e.id = 0x1234;
  e.first_seq = 0xfffe;  // the second request wraps to 0xffff
  e.sent = 2;
  e.payload = zorvek::icmp::MakePayload(TestCookie(1));
  return e;
}

Expectation V6() {
  Expectation e = V4(false);
  e.family = AF_INET6;
  inet_pton(AF_INET6, "::1", &e.target6);
  return e;
}

Bytes IcmpMessage(const Expectation &e, std::uint8_t type, std::uint16_t seq) {
  Bytes msg(8, 0);
  msg[0] = type;
  Store16(msg, 4, e.id);
  Store16(msg, 6, seq);
  msg.insert(msg.end(), e.payload.begin(), e.payload.end());
  if (e.family == AF_INET) FixChecksum(AF_INET, msg);
  return msg;
}

Bytes Ipv4Header(const char *src, const char *dst, std::size_t options, std::size_t payload) {
  Bytes ip(20 + options, 0);
  ip[0] = static_cast<std::uint8_t>(0x40 | (ip.size() / 4));
  Store16(ip, 2, static_cast<std::uint16_t>(ip.size() + payload));
  ip[8] = 64;
  ip[9] = IPPROTO_ICMP;
  inet_pton(AF_INET, src, &ip[12]);
  inet_pton(AF_INET, dst, &ip[16]);
  return ip;
}

Bytes WithIp(const Bytes &icmp, const char *src, std::size_t options = 0) {
  Bytes d = Ipv4Header(src, "127.0.0.1", options, icmp.size());
  d.insert(d.end(), icmp.begin(), icmp.end());
  return d;
}

sockaddr_storage From(const char *address) {
  sockaddr_storage ss{};
  if (std::strchr(address, ':') != nullptr) {
    auto &sin6 = reinterpret_cast<sockaddr_in6 &>(ss);
    sin6.sin6_family = AF_INET6;
    inet_pton(AF_INET6, address, &sin6.sin6_addr);
  } else {
    auto &sin = reinterpret_cast<sockaddr_in &>(ss);
    sin.sin_family = AF_INET;
    inet_pton(AF_INET, address, &sin.sin_addr);
  }
  return ss;
}

// An ICMP error whose body quotes `quoted_ip` + `quoted_icmp`.
Bytes ErrorMessage(int family, std::uint8_t type, const Bytes &quoted_ip, const Bytes &quoted_icmp) {
  Bytes msg(8 + quoted_ip.size() + quoted_icmp.size(), 0);
  msg[0] = type;
  std::copy(quoted_ip.begin(), quoted_ip.end(), msg.begin() + 8);
  std::copy(quoted_icmp.begin(), quoted_icmp.end(),
            msg.begin() + 8 + static_cast<std::ptrdiff_t>(quoted_ip.size()));
  FixChecksum(family, msg);
  return msg;
}

Bytes Ipv6Header(const char *dst, std::uint8_t next_header, std::size_t payload) {
  Bytes ip(40, 0);
  ip[0] = 0x60;
  Store16(ip, 4, static_cast<std::uint16_t>(payload));
  ip[6] = next_header;
  ip[7] = 64;
  inet_pton(AF_INET6, "::1", &ip[8]);
  inet_pton(AF_INET6, dst, &ip[24]);
  return ip;
}

Verdict Judge(const Expectation &e, const Bytes &d, const char *from) {
  return zorvek::icmp::Classify(e, d, From(from));
}

// ---- Building --------------------------------------------------------------

TEST(IcmpBuild, ChecksumFollowsRfc1071) {
  EXPECT_EQ(zorvek::icmp::InternetChecksum(Bytes{0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7}),
            0x220d);
  EXPECT_EQ(zorvek::icmp::InternetChecksum(Bytes{0x01}), 0xfeff);  // odd length pads with zero
  EXPECT_EQ(zorvek::icmp::InternetChecksum(Bytes{}), 0xffff);
}

TEST(IcmpBuild, Ipv4RequestLayoutAndChecksum) {
  const auto payload = zorvek::icmp::MakePayload(TestCookie(9));
  const Bytes msg = zorvek::icmp::EchoRequest(AF_INET, 0xabcd, 0x0102, payload);
  ASSERT_EQ(msg.size(), 8 + zorvek::icmp::kPayloadSize);
  EXPECT_EQ(msg[0], 8);
  EXPECT_EQ(msg[1], 0);
  EXPECT_EQ(msg[4], 0xab);
  EXPECT_EQ(msg[5], 0xcd);
  EXPECT_EQ(msg[6], 0x01);
  EXPECT_EQ(msg[7], 0x02);
  EXPECT_TRUE(std::equal(payload.begin(), payload.end(), msg.begin() + 8));
  EXPECT_EQ(Checksum(msg), 0) << "stored checksum does not verify";
}

TEST(IcmpBuild, Ipv6RequestLeavesChecksumToKernel) {
  const auto payload = zorvek::icmp::MakePayload(TestCookie(9));
  const Bytes msg = zorvek::icmp::EchoRequest(AF_INET6, 1, 2, payload);
  EXPECT_EQ(msg[0], 128);
  EXPECT_EQ(msg[2], 0);
  EXPECT_EQ(msg[3], 0);
}

TEST(IcmpBuild, PayloadStartsWithTheCookie) {
  const auto a = zorvek::icmp::MakePayload(TestCookie(1));
  const auto b = zorvek::icmp::MakePayload(TestCookie(2));
  const auto cookie = TestCookie(1);
  EXPECT_TRUE(std::equal(cookie.begin(), cookie.end(), a.begin()));
  EXPECT_NE(a, b);
}

// ---- Replies -----------------------------------------------------------------

TEST(IcmpReplies, Ipv4RawReplyMatchesOnEveryField) {
  const Expectation e = V4(true);
  EXPECT_EQ(Judge(e, WithIp(IcmpMessage(e, 0, 0xfffe), "127.0.0.1"), "127.0.0.1"), Verdict::kReply);
  EXPECT_EQ(Judge(e, WithIp(IcmpMessage(e, 0, 0xffff), "127.0.0.1"), "127.0.0.1"), Verdict::kReply);
  // Sequence 0 follows 0xffff but was not sent.
  EXPECT_EQ(Judge(e, WithIp(IcmpMessage(e, 0, 0x0000), "127.0.0.1"), "127.0.0.1"), Verdict::kIgnore);
  EXPECT_EQ(Judge(e, WithIp(IcmpMessage(e, 0, 0xfffe), "127.0.0.2"), "127.0.0.2"), Verdict::kIgnore);
  EXPECT_EQ(Judge(e, WithIp(IcmpMessage(e, 8, 0xfffe), "127.0.0.1"), "127.0.0.1"), Verdict::kIgnore);

  Expectation other_id = e;
  other_id.id = 0x4321;
  EXPECT_EQ(Judge(other_id, WithIp(IcmpMessage(e, 0, 0xfffe), "127.0.0.1"), "127.0.0.1"),
            Verdict::kIgnore);
  Expectation other_cookie = e;
  other_cookie.payload = zorvek::icmp::MakePayload(TestCookie(2));
  EXPECT_EQ(Judge(other_cookie, WithIp(IcmpMessage(e, 0, 0xfffe), "127.0.0.1"), "127.0.0.1"),
            Verdict::kIgnore);
}

TEST(IcmpReplies, SequenceWindowWrapsAround) {
  Expectation e = V4(true);
  e.sent = 3;  // 0xfffe, 0xffff, 0x0000
  EXPECT_EQ(Judge(e, WithIp(IcmpMessage(e, 0, 0x0000), "127.0.0.1"), "127.0.0.1"), Verdict::kReply);
  EXPECT_EQ(Judge(e, WithIp(IcmpMessage(e, 0, 0x0001), "127.0.0.1"), "127.0.0.1"), Verdict::kIgnore);
  EXPECT_EQ(Judge(e, WithIp(IcmpMessage(e, 0, 0xfffd), "127.0.0.1"), "127.0.0.1"), Verdict::kIgnore);
}

TEST(IcmpReplies, Ipv4HeaderOptionsAndPaddingAreHandled) {
  const Expectation e = V4(true);
  EXPECT_EQ(Judge(e, WithIp(IcmpMessage(e, 0, 0xfffe), "127.0.0.1", 8), "127.0.0.1"),
            Verdict::kReply);
  Bytes padded = WithIp(IcmpMessage(e, 0, 0xfffe), "127.0.0.1");
  padded.insert(padded.end(), 6, 0);  // bytes past the IP total length
  EXPECT_EQ(Judge(e, padded, "127.0.0.1"), Verdict::kReply);
}

TEST(IcmpReplies, MalformedIpv4DatagramsAreIgnored) {
  const Expectation e = V4(true);
  const Bytes good = WithIp(IcmpMessage(e, 0, 0xfffe), "127.0.0.1");
  Bytes bad_checksum = good;
  bad_checksum[22] ^= 0x01;
  EXPECT_EQ(Judge(e, bad_checksum, "127.0.0.1"), Verdict::kIgnore);
  Bytes udp = good;
  udp[9] = IPPROTO_UDP;
  EXPECT_EQ(Judge(e, udp, "127.0.0.1"), Verdict::kIgnore);
  Bytes huge_ihl = good;
  huge_ihl[0] = 0x4f;  // 60-byte header claimed
  huge_ihl.resize(50);
  EXPECT_EQ(Judge(e, huge_ihl, "127.0.0.1"), Verdict::kIgnore);
  EXPECT_EQ(Judge(e, Bytes(good.begin(), good.begin() + 24), "127.0.0.1"), Verdict::kIgnore);
  Bytes short_payload = IcmpMessage(e, 0, 0xfffe);
  short_payload.pop_back();
  FixChecksum(AF_INET, short_payload);
  EXPECT_EQ(Judge(e, WithIp(short_payload, "127.0.0.1"), "127.0.0.1"), Verdict::kIgnore);
  Bytes nonzero_code = IcmpMessage(e, 0, 0xfffe);
  nonzero_code[1] = 1;
  FixChecksum(AF_INET, nonzero_code);
  EXPECT_EQ(Judge(e, WithIp(nonzero_code, "127.0.0.1"), "127.0.0.1"), Verdict::kIgnore);
  EXPECT_EQ(Judge(e, Bytes{}, "127.0.0.1"), Verdict::kIgnore);
}

TEST(IcmpReplies, Ipv4DatagramSocketUsesTheSenderAddress) {
  const Expectation e = V4(false);
  const Bytes reply = IcmpMessage(e, 0, 0xffff);
  EXPECT_EQ(Judge(e, reply, "127.0.0.1"), Verdict::kReply);
  EXPECT_EQ(Judge(e, reply, "127.0.0.9"), Verdict::kIgnore);
  EXPECT_EQ(Judge(e, reply, "::1"), Verdict::kIgnore);
}

TEST(IcmpReplies, Ipv6ReplyMatchesOnEveryField) {
  const Expectation e = V6();
  EXPECT_EQ(Judge(e, IcmpMessage(e, 129, 0xfffe), "::1"), Verdict::kReply);
  EXPECT_EQ(Judge(e, IcmpMessage(e, 129, 0xfffe), "::2"), Verdict::kIgnore);
  EXPECT_EQ(Judge(e, IcmpMessage(e, 129, 0x1000), "::1"), Verdict::kIgnore);
  EXPECT_EQ(Judge(e, IcmpMessage(e, 128, 0xfffe), "::1"), Verdict::kIgnore);
  EXPECT_EQ(Judge(e, IcmpMessage(e, 129, 0xfffe), "127.0.0.1"), Verdict::kIgnore);
}

// ---- Errors ------------------------------------------------------------------

TEST(IcmpErrors, Ipv4ErrorsQuotingOurRequestEndTheProbe) {
  const Expectation e = V4(true);
  const Bytes request = IcmpMessage(e, 8, 0xffff);
  const Bytes quoted_ip = Ipv4Header("127.0.0.1", "127.0.0.1", 0, request.size());
  for (const std::uint8_t type : {3, 11, 12}) {
    SCOPED_TRACE(static_cast<int>(type));
    EXPECT_EQ(Judge(e, WithIp(ErrorMessage(AF_INET, type, quoted_ip, request), "10.9.8.7"), "10.9.8.7"),
              Verdict::kUnreachable);
  }
  // Only the first 8 bytes of our request quoted: still recognisable.
  const Bytes header_only(request.begin(), request.begin() + 8);
  EXPECT_EQ(Judge(e, WithIp(ErrorMessage(AF_INET, 3, quoted_ip, header_only), "127.0.0.1"), "127.0.0.1"),
            Verdict::kUnreachable);
  // A redirect is not a failure.
  EXPECT_EQ(Judge(e, WithIp(ErrorMessage(AF_INET, 5, quoted_ip, request), "127.0.0.1"), "127.0.0.1"),
            Verdict::kIgnore);
}

TEST(IcmpErrors, Ipv4ErrorsAboutOtherPacketsAreIgnored) {
  const Expectation e = V4(true);
  const Bytes request = IcmpMessage(e, 8, 0xffff);
  const Bytes quoted_ip = Ipv4Header("127.0.0.1", "127.0.0.1", 0, request.size());
  Bytes other_seq = request;
  Store16(other_seq, 6, 0x0007);
  Bytes other_cookie = request;
  other_cookie[8] ^= 0xff;
  const Bytes other_dst = Ipv4Header("127.0.0.1", "127.0.0.3", 0, request.size());
  Bytes udp_ip = quoted_ip;
  udp_ip[9] = IPPROTO_UDP;
  EXPECT_EQ(Judge(e, WithIp(ErrorMessage(AF_INET, 3, quoted_ip, other_seq), "127.0.0.1"), "127.0.0.1"),
            Verdict::kIgnore);
  EXPECT_EQ(Judge(e, WithIp(ErrorMessage(AF_INET, 3, quoted_ip, other_cookie), "127.0.0.1"), "127.0.0.1"),
            Verdict::kIgnore);
  EXPECT_EQ(Judge(e, WithIp(ErrorMessage(AF_INET, 3, other_dst, request), "127.0.0.1"), "127.0.0.1"),
            Verdict::kIgnore);
  EXPECT_EQ(Judge(e, WithIp(ErrorMessage(AF_INET, 3, udp_ip, request), "127.0.0.1"), "127.0.0.1"),
            Verdict::kIgnore);
  const Bytes truncated(request.begin(), request.begin() + 4);
  EXPECT_EQ(Judge(e, WithIp(ErrorMessage(AF_INET, 3, quoted_ip, truncated), "127.0.0.1"), "127.0.0.1"),
            Verdict::kIgnore);
}

TEST(IcmpErrors, Ipv6ErrorsAreMatchedOnTheQuotedRequest) {
  const Expectation e = V6();
  const Bytes request = IcmpMessage(e, 128, 0xfffe);
  const Bytes ours = Ipv6Header("::1", IPPROTO_ICMPV6, request.size());
  for (const std::uint8_t type : {1, 3, 4}) {
    SCOPED_TRACE(static_cast<int>(type));
    EXPECT_EQ(Judge(e, ErrorMessage(AF_INET6, type, ours, request), "fe80::1"), Verdict::kUnreachable);
  }
  EXPECT_EQ(Judge(e, ErrorMessage(AF_INET6, 2, ours, request), "::1"), Verdict::kIgnore);  // too big
  EXPECT_EQ(Judge(e, ErrorMessage(AF_INET6, 1, Ipv6Header("::3", IPPROTO_ICMPV6, request.size()), request), "::1"),
            Verdict::kIgnore);
  EXPECT_EQ(Judge(e, ErrorMessage(AF_INET6, 1, Ipv6Header("::1", IPPROTO_UDP, request.size()), request), "::1"),
            Verdict::kIgnore);
  Bytes other_id = request;
  Store16(other_id, 4, 0x9999);
  EXPECT_EQ(Judge(e, ErrorMessage(AF_INET6, 1, ours, other_id), "::1"), Verdict::kIgnore);
}

TEST(IcmpErrors, QueuedErrorsOfDatagramSockets) {
  using zorvek::icmp::ClassifyQueuedError;
  const Expectation e = V4(false);
  const Bytes request = IcmpMessage(e, 8, 0xfffe);
  const sockaddr_storage target = From("127.0.0.1");
  sockaddr_storage unknown{};
  unknown.ss_family = AF_UNSPEC;
  sock_extended_err err{};
  err.ee_origin = SO_EE_ORIGIN_ICMP;
  err.ee_type = 3;
  EXPECT_EQ(ClassifyQueuedError(e, err, request, target), Verdict::kUnreachable);
  EXPECT_EQ(ClassifyQueuedError(e, err, request, unknown), Verdict::kUnreachable);
  EXPECT_EQ(ClassifyQueuedError(e, err, Bytes{}, target), Verdict::kUnreachable);
  // The same identifier, but a request to another address.
  EXPECT_EQ(ClassifyQueuedError(e, err, request, From("127.0.0.3")), Verdict::kIgnore);
  Bytes other_seq = request;
  Store16(other_seq, 6, 0x0100);
  EXPECT_EQ(ClassifyQueuedError(e, err, other_seq, target), Verdict::kIgnore);
  err.ee_type = 5;  // redirect
  EXPECT_EQ(ClassifyQueuedError(e, err, request, target), Verdict::kIgnore);
  err.ee_origin = SO_EE_ORIGIN_LOCAL;
  EXPECT_EQ(ClassifyQueuedError(e, err, Bytes{}, target), Verdict::kUnreachable);

  const Expectation e6 = V6();
  sock_extended_err err6{};
  err6.ee_origin = SO_EE_ORIGIN_ICMP6;
  err6.ee_type = 1;
  EXPECT_EQ(ClassifyQueuedError(e6, err6, IcmpMessage(e6, 128, 0xffff), From("::1")),
            Verdict::kUnreachable);
  EXPECT_EQ(ClassifyQueuedError(e6, err6, IcmpMessage(e6, 128, 0xffff), From("::3")),
            Verdict::kIgnore);
  err6.ee_type = 2;  // packet too big
  EXPECT_EQ(ClassifyQueuedError(e6, err6, IcmpMessage(e6, 128, 0xffff), From("::1")),
            Verdict::kIgnore);
}

// ---- Host name syntax ----------------------------------------------------------

TEST(HostNameSyntax, AcceptsOrdinaryNames) {
  for (const std::string name :
       {"localhost", "localhost.", "a", "a.b-c.d_e", "xn--bcher-kva.example", "123.example"}) {
    EXPECT_TRUE(zorvek::resolve::IsValidHostName(name)) << name;
  }
  EXPECT_TRUE(zorvek::resolve::IsValidHostName(std::string(63, 'a') + ".b"));
  std::string longest;
  while (longest.size() < 253) longest += longest.empty() ? "a" : ".a";
  ASSERT_EQ(longest.size(), 253u);
  EXPECT_TRUE(zorvek::resolve::IsValidHostName(longest));
  EXPECT_TRUE(zorvek::resolve::IsValidHostName(longest + "."));
}

TEST(HostNameSyntax, RejectsWhatCannotBeLookedUp) {
  for (const std::string name : {"", ".", "..", "a..b", ".a", "a b", "a\tb", "a/b", "[::1]", "a:b",
                                 "\x83\x65\x83\x58", "caf\xc3\xa9"}) {
    EXPECT_FALSE(zorvek::resolve::IsValidHostName(name)) << name;
  }
  EXPECT_FALSE(zorvek::resolve::IsValidHostName(std::string(64, 'a') + ".b"));
  std::string too_long;
  while (too_long.size() < 254) too_long += too_long.empty() ? "a" : ".a";
  too_long = too_long.substr(0, 254);
  if (too_long.back() == '.') too_long.back() = 'a';
  EXPECT_FALSE(zorvek::resolve::IsValidHostName(too_long));
  EXPECT_FALSE(zorvek::resolve::IsValidHostName(std::string("a\0b", 3)));
}

}  // namespace
}  // namespace zorvek_test
