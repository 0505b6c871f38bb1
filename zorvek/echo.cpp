// SPDX-License-Identifier: MIT
#include "echo.h"

#include <linux/errqueue.h>
#include <linux/icmp.h>  // ICMP_FILTER
#include <netinet/icmp6.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "base/unique_fd.h"
#include "icmp_packet.h"
#include "request_numbers.h"

namespace zorvek::echo {
namespace {

using base::UniqueFd;
using icmp::Verdict;

enum class SocketKind { None, Datagram, Raw };

struct Socket {
    UniqueFd fd;
    SocketKind kind = SocketKind::None;
    // With kind None: true if the system refused both kinds (not permitted,
    // family not supported), false if it ran short of descriptors or memory.
    bool refused = false;
};

// socket() errors that say "not permitted or not supported here", as opposed
// to a shortage of descriptors or memory, which a raw socket would hit too.
bool isRefusal(int error) {
    return error == EACCES || error == EPERM || error == EAFNOSUPPORT || error == EPROTONOSUPPORT ||
           error == ESOCKTNOSUPPORT;
}

// Keeps only the ICMP types we may act on, so the raw socket is not woken by
// every echo request or unrelated message on the machine.
void installRawFilter(int fd, int family) {
    if (family == AF_INET) {
        icmp_filter filter{};
        filter.data = ~((1U << icmp::kEchoReply4) | (1U << icmp::kDestUnreachable4) |
                        (1U << icmp::kTimeExceeded4) | (1U << icmp::kParameterProblem4));
        (void)::setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof(filter));
    } else {
        icmp6_filter filter;
        ICMP6_FILTER_SETBLOCKALL(&filter);
        ICMP6_FILTER_SETPASS(icmp::kEchoReply6, &filter);
        ICMP6_FILTER_SETPASS(icmp::kDestUnreachable6, &filter);
        ICMP6_FILTER_SETPASS(icmp::kTimeExceeded6, &filter);
        ICMP6_FILTER_SETPASS(icmp::kParameterProblem6, &filter);
        (void)::setsockopt(fd, IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof(filter));
    }
    // The filter only works on messages arriving after it is set; anything
    // queued in between is classified and ignored like other foreign traffic.
}

// A refused datagram socket is remembered for this long per family, and raw
// is asked first meanwhile: a host that refuses ping sockets (Debian's "1 0")
// refuses them at every call, and asking costs a system call each time. After
// this time, or as soon as raw is refused too (privileges dropped), the
// datagram socket is asked again, so a change of permission is picked up.
constexpr Clock::duration kRefusalMemory = std::chrono::seconds(60);

// When a datagram socket of each family (IPv4, IPv6) was last refused, as
// steady clock ticks; 0 when it was not, or the refusal has been forgotten.
std::atomic<Clock::rep> datagramRefusedAt[2] = {0, 0};

std::atomic<Clock::rep>& refusalOf(int family) {
    return datagramRefusedAt[family == AF_INET6 ? 1 : 0];
}

bool datagramRefusedRecently(int family, Clock::time_point now) {
    const Clock::rep at = refusalOf(family).load(std::memory_order_relaxed);
    return at != 0 && now.time_since_epoch() - Clock::duration(at) < kRefusalMemory;
}

void rememberDatagramRefusal(int family, Clock::time_point now) {
    refusalOf(family).store(std::max<Clock::rep>(1, now.time_since_epoch().count()),
                            std::memory_order_relaxed);
}

// Unprivileged ICMP "ping" socket: allowed when our group is in
// net.ipv4.ping_group_range. The kernel fills in the identifier and the
// checksum and hands us only replies and errors for this socket.
bool openDatagram(Socket& s, int family, int proto, int flags) {
    const int fd = ::socket(family, SOCK_DGRAM | flags, proto);
    if (fd < 0) return false;
    s.fd = UniqueFd(fd);
    s.kind = SocketKind::Datagram;
    const int on = 1;
    // Asynchronous ICMP errors (unreachable, time exceeded) go to the error
    // queue, where we can read them; without this they are dropped.
    if (family == AF_INET6) {
        (void)::setsockopt(fd, IPPROTO_IPV6, IPV6_RECVERR, &on, sizeof(on));
    } else {
        (void)::setsockopt(fd, IPPROTO_IP, IP_RECVERR, &on, sizeof(on));
    }
    return true;
}

// Raw socket: needs root or CAP_NET_RAW; sees all ICMP traffic.
bool openRaw(Socket& s, int family, int proto, int flags) {
    const int fd = ::socket(family, SOCK_RAW | flags, proto);
    if (fd < 0) return false;
    s.fd = UniqueFd(fd);
    s.kind = SocketKind::Raw;
    installRawFilter(fd, family);
    return true;
}

// The datagram socket first, raw if it is refused; raw first while a recent
// refusal of the datagram socket is remembered.
Socket openSocket(int family) {
    const int proto = family == AF_INET6 ? IPPROTO_ICMPV6 : IPPROTO_ICMP;
    const int flags = SOCK_CLOEXEC | SOCK_NONBLOCK;
    const Clock::time_point now = Clock::now();
    Socket s;
    const bool rawFirst = datagramRefusedRecently(family, now);
    if (!rawFirst) {
        if (openDatagram(s, family, proto, flags)) return s;
        if (!isRefusal(errno)) return s;
        rememberDatagramRefusal(family, now);
    }
    if (openRaw(s, family, proto, flags)) return s;
    if (!isRefusal(errno)) return s;
    if (rawFirst) {
        if (openDatagram(s, family, proto, flags)) {
            refusalOf(family).store(0, std::memory_order_relaxed);
            return s;
        }
        if (!isRefusal(errno)) return s;
    }
    s.refused = true;
    return s;
}

// How one session with one address ended.
enum class End {
    Reply,
    NoReply,
    NotSent,  // the first request could not be sent: the address is unreachable from here
};

socklen_t addressLength(const sockaddr_storage& ss) {
    return ss.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
}

// recvmsg's arguments for one datagram: the payload into `iov`, its address
// (the sender's, or for the error queue the destination of the request the
// error is about) into `address`, and ancillary data into `control` when given.
msghdr receiveHeader(iovec& iov, sockaddr_storage& address, char* control = nullptr,
                     std::size_t controlSize = 0) {
    msghdr msg{};
    msg.msg_name = &address;
    msg.msg_namelen = sizeof(address);
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = controlSize;
    return msg;
}

class Session {
public:
    Session(Socket socket, const sockaddr_storage& target, Clock::time_point deadline,
            std::chrono::milliseconds retryInterval)
        : socket_(std::move(socket)),
          target_(target),
          deadline_(deadline),
          retryInterval_(retryInterval) {
        const int family = target.ss_family;
        expect_.family = family;
        expect_.withIpHeader = family == AF_INET && socket_.kind == SocketKind::Raw;
        if (family == AF_INET) {
            expect_.target4 = reinterpret_cast<const sockaddr_in&>(target).sin_addr;
        } else {
            expect_.target6 = reinterpret_cast<const sockaddr_in6&>(target).sin6_addr;
        }
        struct {
            icmp::Cookie cookie;
            std::uint16_t id;
            std::uint16_t seq;
        } random{};
        request_numbers::fill(&random, sizeof(random));
        expect_.payload = icmp::makePayload(random.cookie);
        expect_.id = random.id;  // datagram sockets: replaced by the kernel's choice
        expect_.firstSeq = random.seq;
    }

    End run() {
        Clock::time_point nextSend = Clock::now();
        for (;;) {
            Clock::time_point now = Clock::now();
            if (expect_.sent < kMaxRequests && now >= nextSend) {
                if (!sendRequest()) return expect_.sent == 0 ? End::NotSent : End::NoReply;
                nextSend = now + retryInterval_;
                // Over loopback the reply is usually queued by the time the
                // send returns: looking first saves a poll; elsewhere it costs
                // one read that finds nothing.
                if (const Verdict v = drainDatagrams(); v != Verdict::Ignore) return finish(v);
                now = Clock::now();
            }
            if (now >= deadline_) return End::NoReply;

            const Clock::time_point wake =
                expect_.sent < kMaxRequests ? std::min(nextSend, deadline_) : deadline_;
            const auto wait = std::chrono::ceil<std::chrono::milliseconds>(wake - now);
            pollfd pfd{socket_.fd.get(), POLLIN, 0};
            const int ready = ::poll(&pfd, 1, pollTimeout(wait));
            if (ready < 0) {
                if (errno == EINTR) continue;
                return End::NoReply;
            }
            if (ready == 0) continue;

            if (pfd.revents & POLLERR) {
                if (const Verdict v = drainErrors(); v != Verdict::Ignore) return finish(v);
            }
            if (pfd.revents & POLLIN) {
                if (const Verdict v = drainDatagrams(); v != Verdict::Ignore) return finish(v);
            }
            if (pfd.revents & POLLNVAL) return End::NoReply;
        }
    }

private:
    static End finish(Verdict verdict) {
        return verdict == Verdict::Reply ? End::Reply : End::NoReply;
    }

    bool sendRequest() {
        const auto seq = static_cast<std::uint16_t>(expect_.firstSeq + expect_.sent);
        const auto msg = icmp::echoRequest(expect_.family, expect_.id, seq, expect_.payload);
        ssize_t n;
        do {
            n = ::sendto(socket_.fd.get(), msg.data(), msg.size(), 0,
                         reinterpret_cast<const sockaddr*>(&target_), addressLength(target_));
        } while (n < 0 && errno == EINTR);
        // Any send failure (no route, unreachable, refused) ends the session.
        if (n != static_cast<ssize_t>(msg.size())) return false;
        if (expect_.sent == 0 && socket_.kind == SocketKind::Datagram) {
            // The kernel bound the socket on the first send and put its own
            // identifier (the socket's "port") into the request; replies carry it.
            sockaddr_storage local{};
            socklen_t len = sizeof(local);
            if (::getsockname(socket_.fd.get(), reinterpret_cast<sockaddr*>(&local), &len) != 0) {
                return false;
            }
            const in_port_t port = local.ss_family == AF_INET6
                                       ? reinterpret_cast<const sockaddr_in6&>(local).sin6_port
                                       : reinterpret_cast<const sockaddr_in&>(local).sin_port;
            expect_.id = ntohs(port);
        }
        ++expect_.sent;
        return true;
    }

    // Reads whatever is queued (bounded, so a flood of foreign ICMP cannot keep
    // us past the deadline) and stops at the first datagram that is ours.
    Verdict drainDatagrams() {
        for (int i = 0; i < kDrainBatch; ++i) {
            sockaddr_storage from{};
            iovec iov{buffer_, sizeof(buffer_)};
            msghdr msg = receiveHeader(iov, from);
            const ssize_t n = ::recvmsg(socket_.fd.get(), &msg, MSG_DONTWAIT);
            if (n < 0) {
                if (errno == EINTR) continue;
                if (errno == EAGAIN || errno == EWOULDBLOCK) return Verdict::Ignore;
                // A pending asynchronous error was reported here instead; the details
                // are in the error queue.
                return drainErrors();
            }
            if (msg.msg_flags & MSG_TRUNC) continue;  // larger than anything we send
            const Verdict v = icmp::classify(
                expect_, std::span<const std::uint8_t>(buffer_, static_cast<std::size_t>(n)), from);
            if (v != Verdict::Ignore) return v;
        }
        return Verdict::Ignore;
    }

    Verdict drainErrors() {
        if (socket_.kind != SocketKind::Datagram) {
            // Raw sockets see ICMP errors as ordinary datagrams; just clear the flag.
            int err = 0;
            socklen_t len = sizeof(err);
            (void)::getsockopt(socket_.fd.get(), SOL_SOCKET, SO_ERROR, &err, &len);
            return Verdict::Ignore;
        }
        for (int i = 0; i < kDrainBatch; ++i) {
            alignas(cmsghdr) char control[512];
            sockaddr_storage destination{};  // of the request the error is about
            iovec iov{buffer_, sizeof(buffer_)};
            msghdr msg = receiveHeader(iov, destination, control, sizeof(control));
            const ssize_t n = ::recvmsg(socket_.fd.get(), &msg, MSG_ERRQUEUE | MSG_DONTWAIT);
            if (n < 0) {
                if (errno == EINTR) continue;
                return Verdict::Ignore;
            }
            for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
                const bool isErr = (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_RECVERR) ||
                                   (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_RECVERR);
                if (!isErr || c->cmsg_len < CMSG_LEN(sizeof(sock_extended_err))) continue;
                sock_extended_err err;
                std::memcpy(&err, CMSG_DATA(c), sizeof(err));
                if (msg.msg_namelen == 0) destination.ss_family = AF_UNSPEC;
                const Verdict v = icmp::classifyQueuedError(
                    expect_, err,
                    std::span<const std::uint8_t>(buffer_, static_cast<std::size_t>(n)),
                    destination);
                if (v != Verdict::Ignore) return v;
            }
        }
        return Verdict::Ignore;
    }

    static constexpr int kDrainBatch = 64;

    Socket socket_;
    sockaddr_storage target_;
    Clock::time_point deadline_;
    std::chrono::milliseconds retryInterval_;
    icmp::Expectation expect_;
    std::uint8_t buffer_[2048];
};

}  // namespace

Outcome exchange(const std::vector<sockaddr_storage>& candidates, Clock::time_point deadline,
                 std::chrono::milliseconds retryInterval) {
    bool allRefused = !candidates.empty();
    for (const sockaddr_storage& target : candidates) {
        Socket socket = openSocket(target.ss_family);
        if (socket.kind == SocketKind::None) {
            allRefused = allRefused && socket.refused;
            continue;  // try another family, if any
        }
        allRefused = false;
        switch (Session(std::move(socket), target, deadline, retryInterval).run()) {
            case End::Reply: return Outcome::Reply;
            case End::NoReply: return Outcome::NoReply;
            case End::NotSent: break;  // e.g. no IPv4 route: try the other family
        }
    }
    return allRefused ? Outcome::NoSocket : Outcome::NoReply;
}

}  // namespace zorvek::echo
