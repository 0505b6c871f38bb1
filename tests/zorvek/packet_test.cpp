// SPDX-License-Identifier: MIT
// The packet layer on its own: building requests and judging what comes back.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "icmp_packet.h"
#include "request_numbers.h"
#include "resolver.h"
#include "sandbox.h"  // independent checksum for building test packets

namespace zorvek_test {
namespace {

using zorvek::icmp::Expectation;
using zorvek::icmp::Verdict;
using Bytes = std::vector<std::uint8_t>;

zorvek::icmp::Cookie testCookie(std::uint8_t seed) {
    zorvek::icmp::Cookie cookie{};
    for (std::size_t i = 0; i < cookie.size(); ++i)
        cookie[i] = static_cast<std::uint8_t>(seed + 7 * i);
    return cookie;
}

Expectation v4(bool withIpHeader) {
    Expectation e;
    e.family = AF_INET;
    e.withIpHeader = withIpHeader;
    inet_pton(AF_INET, "127.0.0.1", &e.target4);
    e.id = 0x1234;
    e.firstSeq = 0xfffe;  // the second request wraps to 0xffff
    e.sent = 2;
    e.payload = zorvek::icmp::makePayload(testCookie(1));
    return e;
}

Expectation v6() {
    Expectation e = v4(false);
    e.family = AF_INET6;
    inet_pton(AF_INET6, "::1", &e.target6);
    return e;
}

Bytes icmpMessage(const Expectation& e, std::uint8_t type, std::uint16_t seq) {
    Bytes msg(8, 0);
    msg[0] = type;
    store16(msg, 4, e.id);
    store16(msg, 6, seq);
    msg.insert(msg.end(), e.payload.begin(), e.payload.end());
    if (e.family == AF_INET) fixChecksum(AF_INET, msg);
    return msg;
}

Bytes ipv4Header(const char* src, const char* dst, std::size_t options, std::size_t payload) {
    Bytes ip(20 + options, 0);
    ip[0] = static_cast<std::uint8_t>(0x40 | (ip.size() / 4));
    store16(ip, 2, static_cast<std::uint16_t>(ip.size() + payload));
    ip[8] = 64;
    ip[9] = IPPROTO_ICMP;
    inet_pton(AF_INET, src, &ip[12]);
    inet_pton(AF_INET, dst, &ip[16]);
    return ip;
}

Bytes withIp(const Bytes& icmp, const char* src, std::size_t options = 0) {
    Bytes d = ipv4Header(src, "127.0.0.1", options, icmp.size());
    d.insert(d.end(), icmp.begin(), icmp.end());
    return d;
}

sockaddr_storage addressOf(const char* address) {
    sockaddr_storage ss{};
    if (std::strchr(address, ':') != nullptr) {
        auto& sin6 = reinterpret_cast<sockaddr_in6&>(ss);
        sin6.sin6_family = AF_INET6;
        inet_pton(AF_INET6, address, &sin6.sin6_addr);
    } else {
        auto& sin = reinterpret_cast<sockaddr_in&>(ss);
        sin.sin_family = AF_INET;
        inet_pton(AF_INET, address, &sin.sin_addr);
    }
    return ss;
}

// An ICMP error whose body quotes `quoted_ip` + `quoted_icmp`.
Bytes errorMessage(int family, std::uint8_t type, const Bytes& quotedIp, const Bytes& quotedIcmp) {
    Bytes msg(8 + quotedIp.size() + quotedIcmp.size(), 0);
    msg[0] = type;
    std::copy(quotedIp.begin(), quotedIp.end(), msg.begin() + 8);
    std::copy(quotedIcmp.begin(), quotedIcmp.end(),
              msg.begin() + 8 + static_cast<std::ptrdiff_t>(quotedIp.size()));
    fixChecksum(family, msg);
    return msg;
}

Bytes ipv6Header(const char* dst, std::uint8_t nextHeader, std::size_t payload) {
    Bytes ip(40, 0);
    ip[0] = 0x60;
    store16(ip, 4, static_cast<std::uint16_t>(payload));
    ip[6] = nextHeader;
    ip[7] = 64;
    inet_pton(AF_INET6, "::1", &ip[8]);
    inet_pton(AF_INET6, dst, &ip[24]);
    return ip;
}

Verdict judge(const Expectation& e, const Bytes& d, const char* from) {
    return zorvek::icmp::classify(e, d, addressOf(from));
}

// ---- Building --------------------------------------------------------------

TEST(IcmpBuild, ChecksumFollowsRfc1071) {
    EXPECT_EQ(zorvek::icmp::internetChecksum(Bytes{0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7}),
              0x220d);
    EXPECT_EQ(zorvek::icmp::internetChecksum(Bytes{0x01}), 0xfeff);  // odd length pads with zero
    EXPECT_EQ(zorvek::icmp::internetChecksum(Bytes{}), 0xffff);
}

TEST(IcmpBuild, Ipv4RequestLayoutAndChecksum) {
    const auto payload = zorvek::icmp::makePayload(testCookie(9));
    const Bytes msg = zorvek::icmp::echoRequest(AF_INET, 0xabcd, 0x0102, payload);
    ASSERT_EQ(msg.size(), 8 + zorvek::icmp::kPayloadSize);
    EXPECT_EQ(msg[0], 8);
    EXPECT_EQ(msg[1], 0);
    EXPECT_EQ(msg[4], 0xab);
    EXPECT_EQ(msg[5], 0xcd);
    EXPECT_EQ(msg[6], 0x01);
    EXPECT_EQ(msg[7], 0x02);
    EXPECT_TRUE(std::equal(payload.begin(), payload.end(), msg.begin() + 8));
    EXPECT_EQ(checksum(msg), 0) << "stored checksum does not verify";
}

TEST(IcmpBuild, Ipv6RequestLeavesChecksumToKernel) {
    const auto payload = zorvek::icmp::makePayload(testCookie(9));
    const Bytes msg = zorvek::icmp::echoRequest(AF_INET6, 1, 2, payload);
    EXPECT_EQ(msg[0], 128);
    EXPECT_EQ(msg[2], 0);
    EXPECT_EQ(msg[3], 0);
}

TEST(IcmpBuild, PayloadStartsWithTheCookie) {
    const auto a = zorvek::icmp::makePayload(testCookie(1));
    const auto b = zorvek::icmp::makePayload(testCookie(2));
    const auto cookie = testCookie(1);
    EXPECT_TRUE(std::equal(cookie.begin(), cookie.end(), a.begin()));
    EXPECT_NE(a, b);
}

// ---- Replies -----------------------------------------------------------------

TEST(IcmpReplies, Ipv4RawReplyMatchesOnEveryField) {
    const Expectation e = v4(true);
    EXPECT_EQ(judge(e, withIp(icmpMessage(e, 0, 0xfffe), "127.0.0.1"), "127.0.0.1"),
              Verdict::Reply);
    EXPECT_EQ(judge(e, withIp(icmpMessage(e, 0, 0xffff), "127.0.0.1"), "127.0.0.1"),
              Verdict::Reply);
    // Sequence 0 follows 0xffff but was not sent.
    EXPECT_EQ(judge(e, withIp(icmpMessage(e, 0, 0x0000), "127.0.0.1"), "127.0.0.1"),
              Verdict::Ignore);
    EXPECT_EQ(judge(e, withIp(icmpMessage(e, 0, 0xfffe), "127.0.0.2"), "127.0.0.2"),
              Verdict::Ignore);
    EXPECT_EQ(judge(e, withIp(icmpMessage(e, 8, 0xfffe), "127.0.0.1"), "127.0.0.1"),
              Verdict::Ignore);

    Expectation otherId = e;
    otherId.id = 0x4321;
    EXPECT_EQ(judge(otherId, withIp(icmpMessage(e, 0, 0xfffe), "127.0.0.1"), "127.0.0.1"),
              Verdict::Ignore);
    Expectation otherCookie = e;
    otherCookie.payload = zorvek::icmp::makePayload(testCookie(2));
    EXPECT_EQ(judge(otherCookie, withIp(icmpMessage(e, 0, 0xfffe), "127.0.0.1"), "127.0.0.1"),
              Verdict::Ignore);
}

TEST(IcmpReplies, SequenceWindowWrapsAround) {
    Expectation e = v4(true);
    e.sent = 3;  // 0xfffe, 0xffff, 0x0000
    EXPECT_EQ(judge(e, withIp(icmpMessage(e, 0, 0x0000), "127.0.0.1"), "127.0.0.1"),
              Verdict::Reply);
    EXPECT_EQ(judge(e, withIp(icmpMessage(e, 0, 0x0001), "127.0.0.1"), "127.0.0.1"),
              Verdict::Ignore);
    EXPECT_EQ(judge(e, withIp(icmpMessage(e, 0, 0xfffd), "127.0.0.1"), "127.0.0.1"),
              Verdict::Ignore);
}

TEST(IcmpReplies, Ipv4HeaderOptionsAndPaddingAreHandled) {
    const Expectation e = v4(true);
    EXPECT_EQ(judge(e, withIp(icmpMessage(e, 0, 0xfffe), "127.0.0.1", 8), "127.0.0.1"),
              Verdict::Reply);
    Bytes padded = withIp(icmpMessage(e, 0, 0xfffe), "127.0.0.1");
    padded.insert(padded.end(), 6, 0);  // bytes past the IP total length
    EXPECT_EQ(judge(e, padded, "127.0.0.1"), Verdict::Reply);
}

TEST(IcmpReplies, MalformedIpv4DatagramsAreIgnored) {
    const Expectation e = v4(true);
    const Bytes good = withIp(icmpMessage(e, 0, 0xfffe), "127.0.0.1");
    Bytes badChecksum = good;
    badChecksum[22] ^= 0x01;
    EXPECT_EQ(judge(e, badChecksum, "127.0.0.1"), Verdict::Ignore);
    Bytes udp = good;
    udp[9] = IPPROTO_UDP;
    EXPECT_EQ(judge(e, udp, "127.0.0.1"), Verdict::Ignore);
    Bytes hugeIhl = good;
    hugeIhl[0] = 0x4f;  // 60-byte header claimed
    hugeIhl.resize(50);
    EXPECT_EQ(judge(e, hugeIhl, "127.0.0.1"), Verdict::Ignore);
    EXPECT_EQ(judge(e, Bytes(good.begin(), good.begin() + 24), "127.0.0.1"), Verdict::Ignore);
    Bytes shortPayload = icmpMessage(e, 0, 0xfffe);
    shortPayload.pop_back();
    fixChecksum(AF_INET, shortPayload);
    EXPECT_EQ(judge(e, withIp(shortPayload, "127.0.0.1"), "127.0.0.1"), Verdict::Ignore);
    Bytes nonzeroCode = icmpMessage(e, 0, 0xfffe);
    nonzeroCode[1] = 1;
    fixChecksum(AF_INET, nonzeroCode);
    EXPECT_EQ(judge(e, withIp(nonzeroCode, "127.0.0.1"), "127.0.0.1"), Verdict::Ignore);
    EXPECT_EQ(judge(e, Bytes{}, "127.0.0.1"), Verdict::Ignore);
}

TEST(IcmpReplies, Ipv4DatagramSocketUsesTheSenderAddress) {
    const Expectation e = v4(false);
    const Bytes reply = icmpMessage(e, 0, 0xffff);
    EXPECT_EQ(judge(e, reply, "127.0.0.1"), Verdict::Reply);
    EXPECT_EQ(judge(e, reply, "127.0.0.9"), Verdict::Ignore);
    EXPECT_EQ(judge(e, reply, "::1"), Verdict::Ignore);
    // An IPv6 sender whose bytes, read as an IPv4 address, spell the target.
    sockaddr_storage lookalike = addressOf("::1");
    std::memcpy(&reinterpret_cast<sockaddr_in&>(lookalike).sin_addr, &e.target4, 4);
    EXPECT_EQ(zorvek::icmp::classify(e, reply, lookalike), Verdict::Ignore);
}

TEST(IcmpReplies, Ipv6ReplyMatchesOnEveryField) {
    const Expectation e = v6();
    EXPECT_EQ(judge(e, icmpMessage(e, 129, 0xfffe), "::1"), Verdict::Reply);
    EXPECT_EQ(judge(e, icmpMessage(e, 129, 0xfffe), "::2"), Verdict::Ignore);
    EXPECT_EQ(judge(e, icmpMessage(e, 129, 0x1000), "::1"), Verdict::Ignore);
    EXPECT_EQ(judge(e, icmpMessage(e, 128, 0xfffe), "::1"), Verdict::Ignore);
    EXPECT_EQ(judge(e, icmpMessage(e, 129, 0xfffe), "127.0.0.1"), Verdict::Ignore);
    // An IPv4 sender whose bytes, read as an IPv6 address, spell the target.
    sockaddr_storage lookalike = addressOf("127.0.0.1");
    std::memcpy(&reinterpret_cast<sockaddr_in6&>(lookalike).sin6_addr, &e.target6, 16);
    EXPECT_EQ(zorvek::icmp::classify(e, icmpMessage(e, 129, 0xfffe), lookalike), Verdict::Ignore);
}

// ---- Errors ------------------------------------------------------------------

TEST(IcmpErrors, Ipv4ErrorsQuotingOurRequestEndTheProbe) {
    const Expectation e = v4(true);
    const Bytes request = icmpMessage(e, 8, 0xffff);
    const Bytes quotedIp = ipv4Header("127.0.0.1", "127.0.0.1", 0, request.size());
    for (const std::uint8_t type : {3, 11, 12}) {
        SCOPED_TRACE(static_cast<int>(type));
        EXPECT_EQ(judge(e, withIp(errorMessage(AF_INET, type, quotedIp, request), "10.9.8.7"),
                        "10.9.8.7"),
                  Verdict::Unreachable);
    }
    // Only the first 8 bytes of our request quoted: still recognisable.
    const Bytes headerOnly(request.begin(), request.begin() + 8);
    EXPECT_EQ(
        judge(e, withIp(errorMessage(AF_INET, 3, quotedIp, headerOnly), "127.0.0.1"), "127.0.0.1"),
        Verdict::Unreachable);
    // A redirect is not a failure.
    EXPECT_EQ(
        judge(e, withIp(errorMessage(AF_INET, 5, quotedIp, request), "127.0.0.1"), "127.0.0.1"),
        Verdict::Ignore);
}

TEST(IcmpErrors, Ipv4ErrorsAboutOtherPacketsAreIgnored) {
    const Expectation e = v4(true);
    const Bytes request = icmpMessage(e, 8, 0xffff);
    const Bytes quotedIp = ipv4Header("127.0.0.1", "127.0.0.1", 0, request.size());
    Bytes otherSeq = request;
    store16(otherSeq, 6, 0x0007);
    Bytes otherCookie = request;
    otherCookie[8] ^= 0xff;
    const Bytes otherDst = ipv4Header("127.0.0.1", "127.0.0.3", 0, request.size());
    Bytes udpIp = quotedIp;
    udpIp[9] = IPPROTO_UDP;
    EXPECT_EQ(
        judge(e, withIp(errorMessage(AF_INET, 3, quotedIp, otherSeq), "127.0.0.1"), "127.0.0.1"),
        Verdict::Ignore);
    EXPECT_EQ(
        judge(e, withIp(errorMessage(AF_INET, 3, quotedIp, otherCookie), "127.0.0.1"), "127.0.0.1"),
        Verdict::Ignore);
    EXPECT_EQ(
        judge(e, withIp(errorMessage(AF_INET, 3, otherDst, request), "127.0.0.1"), "127.0.0.1"),
        Verdict::Ignore);
    EXPECT_EQ(judge(e, withIp(errorMessage(AF_INET, 3, udpIp, request), "127.0.0.1"), "127.0.0.1"),
              Verdict::Ignore);
    const Bytes truncated(request.begin(), request.begin() + 4);
    EXPECT_EQ(
        judge(e, withIp(errorMessage(AF_INET, 3, quotedIp, truncated), "127.0.0.1"), "127.0.0.1"),
        Verdict::Ignore);
}

TEST(IcmpErrors, Ipv6ErrorsAreMatchedOnTheQuotedRequest) {
    const Expectation e = v6();
    const Bytes request = icmpMessage(e, 128, 0xfffe);
    const Bytes ours = ipv6Header("::1", IPPROTO_ICMPV6, request.size());
    for (const std::uint8_t type : {1, 3, 4}) {
        SCOPED_TRACE(static_cast<int>(type));
        EXPECT_EQ(judge(e, errorMessage(AF_INET6, type, ours, request), "fe80::1"),
                  Verdict::Unreachable);
    }
    EXPECT_EQ(judge(e, errorMessage(AF_INET6, 2, ours, request), "::1"),
              Verdict::Ignore);  // too big
    EXPECT_EQ(
        judge(e,
              errorMessage(AF_INET6, 1, ipv6Header("::3", IPPROTO_ICMPV6, request.size()), request),
              "::1"),
        Verdict::Ignore);
    EXPECT_EQ(
        judge(e, errorMessage(AF_INET6, 1, ipv6Header("::1", IPPROTO_UDP, request.size()), request),
              "::1"),
        Verdict::Ignore);
    Bytes otherId = request;
    store16(otherId, 4, 0x9999);
    EXPECT_EQ(judge(e, errorMessage(AF_INET6, 1, ours, otherId), "::1"), Verdict::Ignore);
}

TEST(IcmpErrors, QueuedErrorsOfDatagramSockets) {
    using zorvek::icmp::classifyQueuedError;
    const Expectation e = v4(false);
    const Bytes request = icmpMessage(e, 8, 0xfffe);
    const sockaddr_storage target = addressOf("127.0.0.1");
    sockaddr_storage unknown{};
    unknown.ss_family = AF_UNSPEC;
    sock_extended_err err{};
    err.ee_origin = SO_EE_ORIGIN_ICMP;
    err.ee_type = 3;
    EXPECT_EQ(classifyQueuedError(e, err, request, target), Verdict::Unreachable);
    EXPECT_EQ(classifyQueuedError(e, err, request, unknown), Verdict::Unreachable);
    EXPECT_EQ(classifyQueuedError(e, err, Bytes{}, target), Verdict::Unreachable);
    // The same identifier, but a request to another address.
    EXPECT_EQ(classifyQueuedError(e, err, request, addressOf("127.0.0.3")), Verdict::Ignore);
    Bytes otherSeq = request;
    store16(otherSeq, 6, 0x0100);
    EXPECT_EQ(classifyQueuedError(e, err, otherSeq, target), Verdict::Ignore);
    err.ee_type = 5;  // redirect
    EXPECT_EQ(classifyQueuedError(e, err, request, target), Verdict::Ignore);
    err.ee_origin = SO_EE_ORIGIN_LOCAL;
    EXPECT_EQ(classifyQueuedError(e, err, Bytes{}, target), Verdict::Unreachable);

    const Expectation e6 = v6();
    sock_extended_err err6{};
    err6.ee_origin = SO_EE_ORIGIN_ICMP6;
    err6.ee_type = 1;
    EXPECT_EQ(classifyQueuedError(e6, err6, icmpMessage(e6, 128, 0xffff), addressOf("::1")),
              Verdict::Unreachable);
    EXPECT_EQ(classifyQueuedError(e6, err6, icmpMessage(e6, 128, 0xffff), addressOf("::3")),
              Verdict::Ignore);
    err6.ee_type = 2;  // packet too big
    EXPECT_EQ(classifyQueuedError(e6, err6, icmpMessage(e6, 128, 0xffff), addressOf("::1")),
              Verdict::Ignore);
}

// ---- Host name syntax ----------------------------------------------------------

TEST(HostNameSyntax, AcceptsOrdinaryNames) {
    for (const std::string name :
         {"localhost", "localhost.", "a", "a.b-c.d_e", "xn--bcher-kva.example", "123.example"}) {
        EXPECT_TRUE(zorvek::resolve::isValidHostName(name)) << name;
    }
    EXPECT_TRUE(zorvek::resolve::isValidHostName(std::string(63, 'a') + ".b"));
    std::string longest;
    while (longest.size() < 253) longest += longest.empty() ? "a" : ".a";
    ASSERT_EQ(longest.size(), 253u);
    EXPECT_TRUE(zorvek::resolve::isValidHostName(longest));
    EXPECT_TRUE(zorvek::resolve::isValidHostName(longest + "."));
}

TEST(HostNameSyntax, RejectsWhatCannotBeLookedUp) {
    for (const std::string name : {"", ".", "..", "a..b", ".a", "a b", "a\tb", "a/b", "[::1]",
                                   "a:b", "\x83\x65\x83\x58", "caf\xc3\xa9"}) {
        EXPECT_FALSE(zorvek::resolve::isValidHostName(name)) << name;
    }
    EXPECT_FALSE(zorvek::resolve::isValidHostName(std::string(64, 'a') + ".b"));
    std::string tooLong;
    while (tooLong.size() < 254) tooLong += tooLong.empty() ? "a" : ".a";
    tooLong = tooLong.substr(0, 254);
    if (tooLong.back() == '.') tooLong.back() = 'a';
    EXPECT_FALSE(zorvek::resolve::isValidHostName(tooLong));
    EXPECT_FALSE(zorvek::resolve::isValidHostName(std::string("a\0b", 3)));
}

// A forked child draws numbers of its own: were it to go on from its
// parent's key and counter, both would send the same cookie next.
TEST(RequestNumbers, AForkedChildDoesNotRepeatItsParent) {
    using Draw = std::array<std::uint8_t, 20>;
    Draw first{}, parentNext{}, childNext{};
    zorvek::request_numbers::fill(first.data(), first.size());
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        Draw drawn{};
        zorvek::request_numbers::fill(drawn.data(), drawn.size());
        const bool written =
            ::write(pipeFds[1], drawn.data(), drawn.size()) == static_cast<ssize_t>(drawn.size());
        ::_exit(written ? 0 : 1);
    }
    ::close(pipeFds[1]);
    zorvek::request_numbers::fill(parentNext.data(), parentNext.size());
    const ssize_t got = ::read(pipeFds[0], childNext.data(), childNext.size());
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_EQ(got, static_cast<ssize_t>(childNext.size()));
    EXPECT_NE(first, parentNext);
    EXPECT_NE(childNext, parentNext);
}

}  // namespace
}  // namespace zorvek_test
