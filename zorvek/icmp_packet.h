// SPDX-License-Identifier: MIT
// ICMP / ICMPv6 echo messages: building requests and deciding whether a
// received datagram or queued socket error belongs to our probe.
//
// Pure functions on bytes, no sockets, so they can be checked in isolation.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>  // struct timespec, used by linux/errqueue.h

#include <linux/errqueue.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace zorvek::icmp {

// ICMP message types used here (RFC 792 / RFC 4443).
inline constexpr std::uint8_t kEchoReply4 = 0;
inline constexpr std::uint8_t kDestUnreachable4 = 3;
inline constexpr std::uint8_t kEchoRequest4 = 8;
inline constexpr std::uint8_t kTimeExceeded4 = 11;
inline constexpr std::uint8_t kParameterProblem4 = 12;
inline constexpr std::uint8_t kDestUnreachable6 = 1;
inline constexpr std::uint8_t kTimeExceeded6 = 3;
inline constexpr std::uint8_t kParameterProblem6 = 4;
inline constexpr std::uint8_t kEchoRequest6 = 128;
inline constexpr std::uint8_t kEchoReply6 = 129;

inline constexpr std::size_t kHeaderSize = 8;    // type, code, checksum, id, sequence
inline constexpr std::size_t kCookieSize = 16;   // random per call, first in the payload
inline constexpr std::size_t kPayloadSize = 56;  // same data size as ping(8) by default

using Cookie = std::array<std::uint8_t, kCookieSize>;
using Payload = std::array<std::uint8_t, kPayloadSize>;

// RFC 1071 one's complement sum, returned ready to store (network order bytes
// are produced by storing the result big-endian). A message whose stored
// checksum is correct sums to 0.
std::uint16_t internetChecksum(std::span<const std::uint8_t> data);

// The payload carried by every request of one call: the cookie followed by a
// fixed byte pattern.
Payload makePayload(const Cookie& cookie);

// An echo request. For IPv4 the checksum is filled in; for ICMPv6 the kernel
// computes it (it covers a pseudo-header we do not build), so it is left 0.
std::vector<std::uint8_t> echoRequest(int family, std::uint16_t id, std::uint16_t seq,
                                      const Payload& payload);

// What a probe waits for.
struct Expectation {
    int family = AF_INET;        // AF_INET or AF_INET6
    bool withIpHeader = false;   // raw IPv4 sockets deliver the IP header too
    in_addr target4{};           // used when family == AF_INET
    in6_addr target6{};          // used when family == AF_INET6
    std::uint16_t id = 0;        // echo identifier on the wire
    std::uint16_t firstSeq = 0;  // sequence number of the first request
    std::uint16_t sent = 0;      // requests sent so far: first_seq .. first_seq+sent-1
    Payload payload{};

    bool sequenceSent(std::uint16_t seq) const {
        return static_cast<std::uint16_t>(seq - firstSeq) < sent;
    }
};

enum class Verdict {
    Ignore,       // not ours (foreign reply, other traffic, malformed)
    Reply,        // our echo reply
    Unreachable,  // an ICMP error about one of our requests
};

// Classifies one datagram read from the probe socket. `from` is the sender
// address reported by recvfrom (used when the datagram has no IP header).
Verdict classify(const Expectation& expect, std::span<const std::uint8_t> datagram,
                 const sockaddr_storage& from);

// Classifies one entry of a datagram socket's error queue (IP_RECVERR /
// IPV6_RECVERR). `quoted` is the data returned with it: the start of the
// request the error is about. `destination` is the address the kernel
// reports with it (the quoted request's destination); family AF_UNSPEC if
// none was reported.
Verdict classifyQueuedError(const Expectation& expect, const sock_extended_err& err,
                            std::span<const std::uint8_t> quoted,
                            const sockaddr_storage& destination);

}  // namespace zorvek::icmp
