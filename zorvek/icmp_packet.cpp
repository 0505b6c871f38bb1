// SPDX-License-Identifier: MIT
#include "icmp_packet.h"

#include <algorithm>
#include <cstring>

namespace zorvek::icmp {
namespace {

constexpr std::size_t kIpv4MinHeader = 20;
constexpr std::size_t kIpv6Header = 40;
constexpr std::uint8_t kProtoIcmp = 1;
constexpr std::uint8_t kProtoIcmpv6 = 58;

std::uint16_t load16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

void store16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v & 0xff);
}

// True if `address` is the probed address (ports and scope are not compared).
bool isTarget(const Expectation& expect, const sockaddr_storage& address) {
    if (expect.family == AF_INET6) {
        return address.ss_family == AF_INET6 &&
               std::memcmp(&reinterpret_cast<const sockaddr_in6&>(address).sin6_addr,
                           &expect.target6, sizeof(in6_addr)) == 0;
    }
    return address.ss_family == AF_INET &&
           reinterpret_cast<const sockaddr_in&>(address).sin_addr.s_addr == expect.target4.s_addr;
}

// Quoted bytes of our payload (an error may carry only a prefix) must agree
// with what we sent.
bool quotedPayloadMatches(const Expectation& expect, std::span<const std::uint8_t> quoted) {
    const std::size_t n = std::min(quoted.size(), expect.payload.size());
    return std::equal(quoted.begin(), quoted.begin() + static_cast<std::ptrdiff_t>(n),
                      expect.payload.begin());
}

// Checks the first 8+ bytes of a quoted echo request (inside an ICMP error).
bool quotedRequestIsOurs(const Expectation& expect, std::span<const std::uint8_t> icmp,
                         std::uint8_t requestType) {
    if (icmp.size() < kHeaderSize) return false;
    if (icmp[0] != requestType) return false;
    if (load16(&icmp[4]) != expect.id) return false;
    if (!expect.sequenceSent(load16(&icmp[6]))) return false;
    return quotedPayloadMatches(expect, icmp.subspan(kHeaderSize));
}

// Our echo reply: right identifier, a sequence number we sent, the exact
// payload back.
bool echoReplyIsOurs(const Expectation& expect, std::span<const std::uint8_t> icmp) {
    if (icmp.size() != kHeaderSize + kPayloadSize) return false;
    if (icmp[1] != 0) return false;  // echo reply code is always 0
    if (load16(&icmp[4]) != expect.id) return false;
    if (!expect.sequenceSent(load16(&icmp[6]))) return false;
    return std::equal(expect.payload.begin(), expect.payload.end(), icmp.begin() + kHeaderSize);
}

Verdict classifyIcmp4(const Expectation& expect, std::span<const std::uint8_t> icmp,
                      const in_addr& source) {
    if (icmp.size() < kHeaderSize) return Verdict::Ignore;
    if (internetChecksum(icmp) != 0) return Verdict::Ignore;
    switch (icmp[0]) {
        case kEchoReply4:
            if (source.s_addr != expect.target4.s_addr) return Verdict::Ignore;
            return echoReplyIsOurs(expect, icmp) ? Verdict::Reply : Verdict::Ignore;
        case kDestUnreachable4:
        case kTimeExceeded4:
        case kParameterProblem4: {
            // The error quotes the IP header of our request and at least 8 bytes
            // after it; the source is whichever router complained.
            const auto inner = icmp.subspan(kHeaderSize);
            if (inner.size() < kIpv4MinHeader || (inner[0] >> 4) != 4) return Verdict::Ignore;
            const std::size_t ihl = static_cast<std::size_t>(inner[0] & 0x0f) * 4;
            if (ihl < kIpv4MinHeader || inner.size() < ihl) return Verdict::Ignore;
            if (inner[9] != kProtoIcmp) return Verdict::Ignore;
            if (std::memcmp(&inner[16], &expect.target4, 4) != 0) return Verdict::Ignore;
            return quotedRequestIsOurs(expect, inner.subspan(ihl), kEchoRequest4)
                       ? Verdict::Unreachable
                       : Verdict::Ignore;
        }
        default: return Verdict::Ignore;
    }
}

Verdict classifyIcmp6(const Expectation& expect, std::span<const std::uint8_t> icmp,
                      const sockaddr_storage& from) {
    // The kernel verifies ICMPv6 checksums on every socket kind before delivery.
    if (icmp.size() < kHeaderSize) return Verdict::Ignore;
    switch (icmp[0]) {
        case kEchoReply6:
            if (!isTarget(expect, from)) return Verdict::Ignore;
            return echoReplyIsOurs(expect, icmp) ? Verdict::Reply : Verdict::Ignore;
        case kDestUnreachable6:
        case kTimeExceeded6:
        case kParameterProblem6: {
            const auto inner = icmp.subspan(kHeaderSize);
            if (inner.size() < kIpv6Header || (inner[0] >> 4) != 6) return Verdict::Ignore;
            // We never add extension headers, so ICMPv6 follows directly.
            if (inner[6] != kProtoIcmpv6) return Verdict::Ignore;
            if (std::memcmp(&inner[24], &expect.target6, sizeof(in6_addr)) != 0)
                return Verdict::Ignore;
            return quotedRequestIsOurs(expect, inner.subspan(kIpv6Header), kEchoRequest6)
                       ? Verdict::Unreachable
                       : Verdict::Ignore;
        }
        default: return Verdict::Ignore;
    }
}

}  // namespace

std::uint16_t internetChecksum(std::span<const std::uint8_t> data) {
    std::uint32_t sum = 0;
    std::size_t i = 0;
    for (; i + 1 < data.size(); i += 2) sum += load16(&data[i]);
    if (i < data.size()) sum += static_cast<std::uint32_t>(data[i]) << 8;
    while (sum >> 16) sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum & 0xffff);
}

Payload makePayload(const Cookie& cookie) {
    Payload payload{};
    std::copy(cookie.begin(), cookie.end(), payload.begin());
    for (std::size_t i = kCookieSize; i < kPayloadSize; ++i) {
        payload[i] = static_cast<std::uint8_t>(i);
    }
    return payload;
}

std::vector<std::uint8_t> echoRequest(int family, std::uint16_t id, std::uint16_t seq,
                                      const Payload& payload) {
    std::vector<std::uint8_t> msg(kHeaderSize + payload.size(), 0);
    msg[0] = family == AF_INET6 ? kEchoRequest6 : kEchoRequest4;
    store16(&msg[4], id);
    store16(&msg[6], seq);
    std::copy(payload.begin(), payload.end(), msg.begin() + kHeaderSize);
    if (family != AF_INET6) store16(&msg[2], internetChecksum(msg));
    return msg;
}

Verdict classify(const Expectation& expect, std::span<const std::uint8_t> datagram,
                 const sockaddr_storage& from) {
    if (expect.family == AF_INET6) return classifyIcmp6(expect, datagram, from);

    if (!expect.withIpHeader) {
        if (from.ss_family != AF_INET) return Verdict::Ignore;
        return classifyIcmp4(expect, datagram, reinterpret_cast<const sockaddr_in&>(from).sin_addr);
    }
    if (datagram.size() < kIpv4MinHeader || (datagram[0] >> 4) != 4) return Verdict::Ignore;
    const std::size_t ihl = static_cast<std::size_t>(datagram[0] & 0x0f) * 4;
    if (ihl < kIpv4MinHeader || datagram.size() < ihl) return Verdict::Ignore;
    if (datagram[9] != kProtoIcmp) return Verdict::Ignore;
    // Ignore trailing bytes beyond the IP total length, if any.
    std::size_t total = load16(&datagram[2]);
    if (total < ihl || total > datagram.size()) total = datagram.size();
    in_addr source{};
    std::memcpy(&source, &datagram[12], 4);
    return classifyIcmp4(expect, datagram.subspan(ihl, total - ihl), source);
}

Verdict classifyQueuedError(const Expectation& expect, const sock_extended_err& err,
                            std::span<const std::uint8_t> quoted,
                            const sockaddr_storage& destination) {
    const bool v6 = expect.family == AF_INET6;
    // The kernel hands an error to this socket on the identifier alone; the
    // destination of the quoted request must be our target too.
    if (destination.ss_family != AF_UNSPEC && !isTarget(expect, destination)) {
        return Verdict::Ignore;
    }
    switch (err.ee_origin) {
        case SO_EE_ORIGIN_LOCAL:
            // The kernel refused one of our requests locally (no route, too big).
            return Verdict::Unreachable;
        case SO_EE_ORIGIN_ICMP:
        case SO_EE_ORIGIN_ICMP6: {
            const bool errorType =
                v6 ? (err.ee_type == kDestUnreachable6 || err.ee_type == kTimeExceeded6 ||
                      err.ee_type == kParameterProblem6)
                   : (err.ee_type == kDestUnreachable4 || err.ee_type == kTimeExceeded4 ||
                      err.ee_type == kParameterProblem4);
            if (!errorType) return Verdict::Ignore;
            // The kernel only queues errors whose quoted identifier is this socket's,
            // so a quote too short to check is still ours; a longer one must match.
            if (quoted.size() < kHeaderSize) return Verdict::Unreachable;
            return quotedRequestIsOurs(expect, quoted, v6 ? kEchoRequest6 : kEchoRequest4)
                       ? Verdict::Unreachable
                       : Verdict::Ignore;
        }
        default: return Verdict::Ignore;
    }
}

}  // namespace zorvek::icmp
