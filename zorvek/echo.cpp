#include "echo.h"

#include <linux/errqueue.h>
#include <linux/icmp.h>  // ICMP_FILTER
#include <netinet/icmp6.h>
#include <poll.h>
#include <sys/random.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>

#include "icmp_packet.h"

namespace zorvek::echo {
namespace {

using icmp::Verdict;

enum class SocketKind { kNone, kDatagram, kRaw };

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  Fd(const Fd &) = delete;
  Fd &operator=(const Fd &) = delete;
  Fd(Fd &&other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Fd &operator=(Fd &&other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

void RandomBytes(void *buf, std::size_t len) {
  auto *p = static_cast<std::uint8_t *>(buf);
  std::size_t got = 0;
  while (got < len) {
    const ssize_t n = ::getrandom(p + got, len - got, 0);
    if (n > 0) {
      got += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      break;
    }
  }
  if (got < len) {
    std::random_device rd;
    for (; got < len; ++got) p[got] = static_cast<std::uint8_t>(rd());
  }
}

struct Socket {
  Fd fd;
  SocketKind kind = SocketKind::kNone;
};

// Keeps only the ICMP types we may act on, so the raw socket is not woken by
// every echo request or unrelated message on the machine.
void InstallRawFilter(int fd, int family) {
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

Socket OpenSocket(int family) {
  const int proto = family == AF_INET6 ? IPPROTO_ICMPV6 : IPPROTO_ICMP;
  const int flags = SOCK_CLOEXEC | SOCK_NONBLOCK;
  Socket s;
  // Unprivileged ICMP "ping" socket: allowed when our group is in
  // net.ipv4.ping_group_range. The kernel fills in the identifier and the
  // checksum and hands us only replies and errors for this socket.
  if (int fd = ::socket(family, SOCK_DGRAM | flags, proto); fd >= 0) {
    s.fd = Fd(fd);
    s.kind = SocketKind::kDatagram;
    const int on = 1;
    // Asynchronous ICMP errors (unreachable, time exceeded) go to the error
    // queue, where we can read them; without this they are dropped.
    if (family == AF_INET6) {
      (void)::setsockopt(fd, IPPROTO_IPV6, IPV6_RECVERR, &on, sizeof(on));
    } else {
      (void)::setsockopt(fd, IPPROTO_IP, IP_RECVERR, &on, sizeof(on));
    }
    return s;
  }
  // Raw socket: needs root or CAP_NET_RAW; sees all ICMP traffic.
  if (int fd = ::socket(family, SOCK_RAW | flags, proto); fd >= 0) {
    s.fd = Fd(fd);
    s.kind = SocketKind::kRaw;
    InstallRawFilter(fd, family);
  }
  return s;
}

socklen_t AddressLength(const sockaddr_storage &ss) {
  return ss.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
}

class Session {
 public:
  Session(Socket socket, const sockaddr_storage &target, Clock::time_point deadline)
      : socket_(std::move(socket)), target_(target), deadline_(deadline) {
    const int family = target.ss_family;
    expect_.family = family;
    expect_.with_ip_header = family == AF_INET && socket_.kind == SocketKind::kRaw;
    if (family == AF_INET) {
      expect_.target4 = reinterpret_cast<const sockaddr_in &>(target).sin_addr;
    } else {
      expect_.target6 = reinterpret_cast<const sockaddr_in6 &>(target).sin6_addr;
    }
    struct {
      icmp::Cookie cookie;
      std::uint16_t id;
      std::uint16_t seq;
    } random{};
    RandomBytes(&random, sizeof(random));
    expect_.payload = icmp::MakePayload(random.cookie);
    expect_.id = random.id;  // datagram sockets: replaced by the kernel's choice
    expect_.first_seq = random.seq;
  }

  Outcome Run() {
    Clock::time_point next_send = Clock::now();
    for (;;) {
      Clock::time_point now = Clock::now();
      if (expect_.sent < kMaxRequests && now >= next_send) {
        if (!SendRequest()) return Finish(Outcome::kNoReply);
        next_send = now + kRetryInterval;
        now = Clock::now();
      }
      if (now >= deadline_) return Finish(Outcome::kNoReply);

      const Clock::time_point wake =
          expect_.sent < kMaxRequests ? std::min(next_send, deadline_) : deadline_;
      const auto wait = std::chrono::ceil<std::chrono::milliseconds>(wake - now);
      pollfd pfd{socket_.fd.get(), POLLIN, 0};
      const int ready = ::poll(&pfd, 1, static_cast<int>(std::max<std::int64_t>(wait.count(), 0)));
      if (ready < 0) {
        if (errno == EINTR) continue;
        return Finish(Outcome::kNoReply);
      }
      if (ready == 0) continue;

      if (pfd.revents & POLLERR) {
        if (const Verdict v = DrainErrors(); v != Verdict::kIgnore) return Finish(v);
      }
      if (pfd.revents & POLLIN) {
        if (const Verdict v = DrainDatagrams(); v != Verdict::kIgnore) return Finish(v);
      }
      if (pfd.revents & POLLNVAL) return Finish(Outcome::kNoReply);
    }
  }

 private:
  static Outcome Finish(Outcome outcome) { return outcome; }
  static Outcome Finish(Verdict verdict) {
    return verdict == Verdict::kReply ? Outcome::kReply : Outcome::kNoReply;
  }

  bool SendRequest() {
    const auto seq = static_cast<std::uint16_t>(expect_.first_seq + expect_.sent);
    const auto msg = icmp::EchoRequest(expect_.family, expect_.id, seq, expect_.payload);
    ssize_t n;
    do {
      n = ::sendto(socket_.fd.get(), msg.data(), msg.size(), 0,
                   reinterpret_cast<const sockaddr *>(&target_), AddressLength(target_));
    } while (n < 0 && errno == EINTR);
    // Any send failure (no route, unreachable, refused) ends the probe.
    if (n != static_cast<ssize_t>(msg.size())) return false;
    if (expect_.sent == 0 && socket_.kind == SocketKind::kDatagram) {
      // The kernel bound the socket on the first send and put its own
      // identifier (the socket's "port") into the request; replies carry it.
      sockaddr_storage local{};
      socklen_t len = sizeof(local);
      if (::getsockname(socket_.fd.get(), reinterpret_cast<sockaddr *>(&local), &len) != 0) {
        return false;
      }
      const in_port_t port = local.ss_family == AF_INET6
                                 ? reinterpret_cast<const sockaddr_in6 &>(local).sin6_port
                                 : reinterpret_cast<const sockaddr_in &>(local).sin_port;
      expect_.id = ntohs(port);
    }
    ++expect_.sent;
    return true;
  }

  // Reads whatever is queued (bounded, so a flood of foreign ICMP cannot keep
  // us past the deadline) and stops at the first datagram that is ours.
  Verdict DrainDatagrams() {
    for (int i = 0; i < kDrainBatch; ++i) {
      sockaddr_storage from{};
      iovec iov{buffer_, sizeof(buffer_)};
      msghdr msg{};
      msg.msg_name = &from;
      msg.msg_namelen = sizeof(from);
      msg.msg_iov = &iov;
      msg.msg_iovlen = 1;
      const ssize_t n = ::recvmsg(socket_.fd.get(), &msg, MSG_DONTWAIT);
      if (n < 0) {
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return Verdict::kIgnore;
        // A pending asynchronous error was reported here instead; the details
        // are in the error queue.
        return DrainErrors();
      }
      if (msg.msg_flags & MSG_TRUNC) continue;  // larger than anything we send
      const Verdict v = icmp::Classify(
          expect_, std::span<const std::uint8_t>(buffer_, static_cast<std::size_t>(n)), from);
      if (v != Verdict::kIgnore) return v;
    }
    return Verdict::kIgnore;
  }

  Verdict DrainErrors() {
    if (socket_.kind != SocketKind::kDatagram) {
      // Raw sockets see ICMP errors as ordinary datagrams; just clear the flag.
      int err = 0;
      socklen_t len = sizeof(err);
      (void)::getsockopt(socket_.fd.get(), SOL_SOCKET, SO_ERROR, &err, &len);
      return Verdict::kIgnore;
    }
    for (int i = 0; i < kDrainBatch; ++i) {
      alignas(cmsghdr) char control[512];
      sockaddr_storage destination{};  // of the request the error is about
      iovec iov{buffer_, sizeof(buffer_)};
      msghdr msg{};
      msg.msg_name = &destination;
      msg.msg_namelen = sizeof(destination);
      msg.msg_iov = &iov;
      msg.msg_iovlen = 1;
      msg.msg_control = control;
      msg.msg_controllen = sizeof(control);
      const ssize_t n = ::recvmsg(socket_.fd.get(), &msg, MSG_ERRQUEUE | MSG_DONTWAIT);
      if (n < 0) {
        if (errno == EINTR) continue;
        return Verdict::kIgnore;
      }
      for (cmsghdr *c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
        const bool is_err = (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_RECVERR) ||
                            (c->cmsg_level == IPPROTO_IPV6 && c->cmsg_type == IPV6_RECVERR);
        if (!is_err || c->cmsg_len < CMSG_LEN(sizeof(sock_extended_err))) continue;
        sock_extended_err err;
        std::memcpy(&err, CMSG_DATA(c), sizeof(err));
        if (msg.msg_namelen == 0) destination.ss_family = AF_UNSPEC;
        const Verdict v = icmp::ClassifyQueuedError(
            expect_, err, std::span<const std::uint8_t>(buffer_, static_cast<std::size_t>(n)),
            destination);
        if (v != Verdict::kIgnore) return v;
      }
    }
    return Verdict::kIgnore;
  }

  static constexpr int kDrainBatch = 64;

  Socket socket_;
  sockaddr_storage target_;
  Clock::time_point deadline_;
  icmp::Expectation expect_;
  std::uint8_t buffer_[2048];
};

}  // namespace

Outcome Exchange(const std::vector<sockaddr_storage> &candidates, Clock::time_point deadline) {
  for (const sockaddr_storage &target : candidates) {
    Socket socket = OpenSocket(target.ss_family);
    if (socket.kind == SocketKind::kNone) continue;  // try another family, if any
    return Session(std::move(socket), target, deadline).Run();
  }
  return Outcome::kNoSocket;
}

}  // namespace zorvek::echo
