// SPDX-License-Identifier: MIT
#include "sandbox.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
// net/if.h goes before linux/icmp.h, which would pull in linux/if.h.
#include <net/if.h>

#include <linux/icmp.h>  // ICMP_FILTER
#include <netinet/icmp6.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <arpa/inet.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "zorvek.h"

namespace zorvek_test {
namespace {

std::string errnoText(const std::string& what) { return what + ": " + std::strerror(errno); }

void writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

void writeFile(const std::string& path, const std::string& text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) throw std::runtime_error(errnoText("open " + path));
    const ssize_t n = ::write(fd, text.data(), text.size());
    const int saved = errno;
    ::close(fd);
    errno = saved;
    if (n != static_cast<ssize_t>(text.size()))
        throw std::runtime_error(errnoText("write " + path));
}

// Reads until EOF or the deadline; returns false on timeout.
bool readUntilEof(int fd, std::string& out, Clock::time_point deadline) {
    char buf[4096];
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        pollfd pfd{fd, POLLIN, 0};
        const int r = ::poll(&pfd, 1, static_cast<int>(left));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        const ssize_t n = ::read(fd, buf, sizeof(buf));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return true;
        out.append(buf, static_cast<std::size_t>(n));
    }
}

void setLoopbackUp() {
    const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0) throw std::runtime_error(errnoText("socket for ioctl"));
    ifreq ifr{};
    std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
    const bool ok = ::ioctl(s, SIOCGIFFLAGS, &ifr) == 0 &&
                    ((ifr.ifr_flags |= IFF_UP), ::ioctl(s, SIOCSIFFLAGS, &ifr) == 0);
    const int saved = errno;
    ::close(s);
    errno = saved;
    if (!ok) throw std::runtime_error(errnoText("bringing lo up"));
}

void bindOver(const std::string& source, const char* target) {
    if (::mount(source.c_str(), target, nullptr, MS_BIND, nullptr) != 0) {
        throw SkipCase(errnoText(std::string("bind mount over ") + target));
    }
}

void makeMountsPrivate() {
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        throw SkipCase(errnoText("making / private"));
    }
}

// Private copies of the resolver's files, visible only in this mount namespace.
void usePrivateResolver(const std::string& extraHosts, const std::string& resolvConf) {
    makeMountsPrivate();
    char dir[] = "/tmp/zorvek-resolver-XXXXXX";
    if (::mkdtemp(dir) == nullptr) throw std::runtime_error(errnoText("mkdtemp"));
    const std::string base(dir);
    const std::string resolv = base + "/resolv.conf";
    const std::string hosts = base + "/hosts";
    const std::string nsswitch = base + "/nsswitch.conf";
    writeFile(resolv, resolvConf.empty() ? "nameserver 127.0.0.1\noptions timeout:5 attempts:3\n"
                                         : resolvConf);
    writeFile(hosts,
              "127.0.0.1 localhost\n::1 localhost ip6-localhost ip6-loopback\n" + extraHosts);
    writeFile(nsswitch, "hosts: files dns\n");
    bindOver(resolv, "/etc/resolv.conf");
    bindOver(hosts, "/etc/hosts");
    bindOver(nsswitch, "/etc/nsswitch.conf");
    // The mounts keep the files alive; nothing is left behind in /tmp.
    ::unlink(resolv.c_str());
    ::unlink(hosts.c_str());
    ::unlink(nsswitch.c_str());
    ::rmdir(dir);
}

// Runs ip(8) from iproute2; throws if it fails.
void runIp(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"/sbin/ip"};
    argv.insert(argv.end(), args.begin(), args.end());
    if (runProgram(argv).first != 0) throw std::runtime_error("ip command failed");
}

void enterSandbox(const SandboxOptions& options) {
    const bool ownMounts = options.privateResolver || options.hidePingProgram;
    const int flags = CLONE_NEWNET | (ownMounts ? CLONE_NEWNS : 0);
    if (::unshare(flags) != 0) throw SkipCase(errnoText("unshare"));
    if (options.loopbackUp) setLoopbackUp();
    if (!options.ipv4Loopback) runIp({"-4", "addr", "del", "127.0.0.1/8", "dev", "lo"});
    if (options.ignoreEcho4) writeFile("/proc/sys/net/ipv4/icmp_echo_ignore_all", "1");
    if (options.ignoreEcho6) {
        const char* path = "/proc/sys/net/ipv6/icmp/echo_ignore_all";
        if (::access(path, F_OK) != 0)
            throw SkipCase("kernel has no net.ipv6.icmp.echo_ignore_all");
        writeFile(path, "1");
    }
    if (!options.pingGroupRange.empty()) {
        writeFile("/proc/sys/net/ipv4/ping_group_range", options.pingGroupRange);
    }
    if (options.privateResolver) usePrivateResolver(options.extraHosts, options.resolvConf);
    if (options.hidePingProgram) hideSystemPing();
}

std::string serialize(const Fields& fields) {
    std::string out;
    for (const auto& [k, v] : fields) out += k + "=" + v + "\n";
    return out;
}

Fields parse(std::istringstream& in) {
    Fields fields;
    std::string line;
    while (std::getline(in, line)) {
        const auto eq = line.find('=');
        if (eq != std::string::npos) fields[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return fields;
}

std::uint16_t load16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] << 8 | p[1]); }

}  // namespace

const std::string& ChildOutcome::at(const std::string& key) const {
    const auto it = fields.find(key);
    if (it == fields.end()) throw std::out_of_range("child did not report " + key);
    return it->second;
}

ChildOutcome runSandboxed(const SandboxOptions& options, const std::function<Fields()>& body,
                          std::chrono::seconds limit) {
    ChildOutcome outcome;
    if (::geteuid() != 0) {
        outcome.kind = ChildOutcome::Kind::Skipped;
        outcome.detail = "namespaces and sysctls need root";
        return outcome;
    }
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        outcome.detail = errnoText("pipe2");
        return outcome;
    }
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) {
        outcome.detail = errnoText("fork");
        ::close(fds[0]);
        ::close(fds[1]);
        return outcome;
    }
    if (pid == 0) {
        ::close(fds[0]);
        std::string report;
        try {
            enterSandbox(options);
            report = "D\n" + serialize(body());
        } catch (const SkipCase& e) {
            report = std::string("S\n") + e.what();
        } catch (const std::exception& e) {
            report = std::string("F\n") + e.what();
        }
        writeAll(fds[1], report);
        ::_exit(0);  // no atexit handlers, no leak check of the forked copy
    }
    ::close(fds[1]);
    std::string text;
    const bool finished = readUntilEof(fds[0], text, Clock::now() + limit);
    ::close(fds[0]);
    if (!finished) ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!finished) {
        outcome.detail =
            "sandboxed case did not finish within " + std::to_string(limit.count()) + " s";
        return outcome;
    }
    if (text.size() < 2) {
        outcome.detail =
            "sandboxed case died without a report, wait status " + std::to_string(status);
        return outcome;
    }
    std::istringstream in(text.substr(2));
    switch (text[0]) {
        case 'D':
            outcome.kind = ChildOutcome::Kind::Done;
            outcome.fields = parse(in);
            break;
        case 'S':
            outcome.kind = ChildOutcome::Kind::Skipped;
            outcome.detail = text.substr(2);
            break;
        default: outcome.detail = "sandboxed case failed: " + text.substr(2);
    }
    return outcome;
}

void hideSystemPing() {
    makeMountsPrivate();
    for (const char* path : {"/usr/bin/ping", "/bin/ping"}) {
        if (::access(path, F_OK) == 0) bindOver("/dev/null", path);
    }
}

const char* modeName(SocketMode mode) {
    switch (mode) {
        case SocketMode::Raw: return "Raw";
        case SocketMode::Datagram: return "Datagram";
        case SocketMode::PingProgram: return "PingProgram";
    }
    return "?";
}

void PrintTo(SocketMode mode, std::ostream* out) { *out << modeName(mode); }

SandboxOptions optionsFor(SocketMode mode) {
    SandboxOptions options;
    options.pingGroupRange = mode == SocketMode::Datagram ? "0 2147483647" : "1 0";
    return options;
}

void enterMode(SocketMode mode) {
    if (mode != SocketMode::Raw) dropToNobody();
}

sockaddr_storage loopbackAddress(int family) {
    sockaddr_storage ss{};
    if (family == AF_INET) {
        auto& sin = reinterpret_cast<sockaddr_in&>(ss);
        sin.sin_family = AF_INET;
        sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    } else {
        auto& sin6 = reinterpret_cast<sockaddr_in6&>(ss);
        sin6.sin6_family = AF_INET6;
        sin6.sin6_addr = in6addr_loopback;
    }
    return ss;
}

const char* outcomeName(zorvek::echo::Outcome outcome) {
    switch (outcome) {
        case zorvek::echo::Outcome::Reply: return "Reply";
        case zorvek::echo::Outcome::NoReply: return "NoReply";
        case zorvek::echo::Outcome::NoSocket: return "NoSocket";
    }
    return "?";
}

bool canOpenIcmpSocket() {
    for (const int type : {SOCK_DGRAM, SOCK_RAW}) {
        const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, IPPROTO_ICMP);
        if (fd >= 0) {
            ::close(fd);
            return true;
        }
    }
    return false;
}

void timedPing(Fields& fields, const char* host, const std::string& prefix) {
    const auto start = Clock::now();
    const int32_t code = Pinging(host);
    const std::chrono::duration<double> took = Clock::now() - start;
    fields[prefix + "code"] = std::to_string(code);
    fields[prefix + "seconds"] = std::to_string(took.count());
}

void dropToNobody() {
    if (::setgroups(0, nullptr) != 0) throw std::runtime_error(errnoText("setgroups"));
    if (::setgid(65534) != 0) throw std::runtime_error(errnoText("setgid"));
    if (::setuid(65534) != 0) throw std::runtime_error(errnoText("setuid"));
    const int raw = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (raw >= 0) {
        ::close(raw);
        throw std::runtime_error("raw ICMP socket still allowed after dropping privileges");
    }
}

std::pair<int, std::string> runProgram(const std::vector<std::string>& argv,
                                       std::chrono::seconds limit) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return {-1, ""};
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[1], STDOUT_FILENO);  // dup2 clears close-on-exec on the copy
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    if (pid < 0) {
        ::close(fds[0]);
        return {-1, ""};
    }
    std::string out;
    const bool finished = readUntilEof(fds[0], out, Clock::now() + limit);
    ::close(fds[0]);
    if (!finished) ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!finished || !WIFEXITED(status)) return {-1, out};
    return {WEXITSTATUS(status), out};
}

uid_t ensureTestUser() {
    // Tests in other processes may create it at the same moment; useradd
    // then fails on the lock or on the name, and the next look finds it.
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (const passwd* user = ::getpwnam(kTestUser)) return user->pw_uid;
        runProgram({"/usr/sbin/useradd", "--no-create-home", "--shell", "/usr/sbin/nologin",
                    "--user-group", kTestUser});
        if (const passwd* user = ::getpwnam(kTestUser)) return user->pw_uid;
        ::usleep(100'000);
    }
    throw std::runtime_error(std::string("cannot create the user ") + kTestUser);
}

namespace {
int entriesIn(const char* directory) {
    int n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(directory)) {
        ++n;
    }
    return n;
}
}  // namespace

int openDescriptorCount() { return entriesIn("/proc/self/fd"); }

int threadCount() { return entriesIn("/proc/self/task"); }

// ---- Responder -----------------------------------------------------------

Responder::Responder(int family, Policy policy) : family_(family), policy_(std::move(policy)) {
    openSockets(family);
    // The kernel stamps each request as it arrives, so the time between two
    // requests does not depend on how soon this thread gets to read them.
    const int on = 1;
    ::setsockopt(watch_fd_, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof(on));
}

void Responder::openSockets(int family) {
    if (family == AF_INET) {
        watch_fd_ = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
        if (watch_fd_ < 0) throw std::runtime_error(errnoText("responder raw socket"));
        icmp_filter onlyRequests{~(1U << 8)};
        ::setsockopt(watch_fd_, SOL_RAW, ICMP_FILTER, &onlyRequests, sizeof(onlyRequests));

        alternate_fd_ = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
        if (alternate_fd_ < 0) throw std::runtime_error(errnoText("responder raw socket"));
        icmp_filter nothing{~0U};
        ::setsockopt(alternate_fd_, SOL_RAW, ICMP_FILTER, &nothing, sizeof(nothing));
        sockaddr_in alt{};
        alt.sin_family = AF_INET;
        alt.sin_addr.s_addr = htonl(0x7f000002);  // 127.0.0.2, on lo like all of 127/8
        if (::bind(alternate_fd_, reinterpret_cast<sockaddr*>(&alt), sizeof(alt)) != 0) {
            throw std::runtime_error(errnoText("binding 127.0.0.2"));
        }
    } else {
        watch_fd_ = ::socket(AF_INET6, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMPV6);
        if (watch_fd_ < 0) throw std::runtime_error(errnoText("responder raw socket"));
        icmp6_filter filter;
        ICMP6_FILTER_SETBLOCKALL(&filter);
        ICMP6_FILTER_SETPASS(ICMP6_ECHO_REQUEST, &filter);
        ::setsockopt(watch_fd_, IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof(filter));

        // A second address on lo to forge replies from (IPv6 has no 127/8).
        runIp({"-6", "addr", "add", "fd00::2/128", "dev", "lo", "nodad"});
        alternate_fd_ = ::socket(AF_INET6, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMPV6);
        if (alternate_fd_ < 0) throw std::runtime_error(errnoText("responder raw socket"));
        ICMP6_FILTER_SETBLOCKALL(&filter);
        ::setsockopt(alternate_fd_, IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof(filter));
        sockaddr_in6 alt{};
        alt.sin6_family = AF_INET6;
        inet_pton(AF_INET6, "fd00::2", &alt.sin6_addr);
        if (::bind(alternate_fd_, reinterpret_cast<sockaddr*>(&alt), sizeof(alt)) != 0) {
            throw std::runtime_error(errnoText("binding fd00::2"));
        }
    }
}

double Responder::secondsBetweenRequests() const { return betweenRequests_.load(); }

Responder::~Responder() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (watch_fd_ >= 0) ::close(watch_fd_);
    if (alternate_fd_ >= 0) ::close(alternate_fd_);
}

void Responder::start() {
    thread_ = std::thread([this] { loop(); });
}

void Responder::stop(std::chrono::milliseconds grace) {
    std::this_thread::sleep_for(grace);
    stop_ = true;
    if (thread_.joinable()) thread_.join();
}

void Responder::loop() {
    std::uint8_t buf[2048];
    while (!stop_) {
        pollfd pfd{watch_fd_, POLLIN, 0};
        if (::poll(&pfd, 1, 20) <= 0) continue;
        iovec iov{buf, sizeof(buf)};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
        msghdr msg{};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        msg.msg_control = control;
        msg.msg_controllen = sizeof(control);
        const ssize_t n = ::recvmsg(watch_fd_, &msg, MSG_DONTWAIT);
        if (n <= 0) continue;
        // The kernel stamps with the real-time clock; so does the stand-in.
        double arrived =
            std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
                .count();
        for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
                timespec stamp;
                std::memcpy(&stamp, CMSG_DATA(c), sizeof(stamp));
                arrived = static_cast<double>(stamp.tv_sec) + stamp.tv_nsec / 1e9;
            }
        }
        handle(buf, static_cast<std::size_t>(n), arrived);
    }
}

void Responder::handle(const std::uint8_t* data, std::size_t len, double arrived) {
    SeenRequest req;
    req.family = family_;
    const std::uint8_t* icmp = data;
    std::size_t icmpLen = len;
    if (family_ == AF_INET) {
        if (len < 20) return;
        const std::size_t ihl = (data[0] & 0x0f) * 4u;
        if (len < ihl + 8 || data[9] != IPPROTO_ICMP) return;
        if (data[16] != 127 || data[17] != 0 || data[18] != 0 || data[19] != 1) return;
        req.ipHeader.assign(data, data + ihl);
        icmp = data + ihl;
        icmpLen = len - ihl;
        if (icmp[0] != 8) return;
    } else {
        if (len < 8 || icmp[0] != 128) return;
    }
    req.id = load16(icmp + 4);
    req.seq = load16(icmp + 6);
    if (!known_.insert({req.id, req.seq}).second) return;  // our own forged copy, or a repeat
    req.icmp.assign(icmp, icmp + icmpLen);
    req.ordinal = ++seen_;
    if (req.ordinal == 1) firstSeen_ = arrived;
    if (req.ordinal == 2) betweenRequests_ = arrived - firstSeen_;
    for (const Forged& packet : policy_(req)) send(packet);
}

void Responder::send(const Forged& packet) {
    int fd = watch_fd_;
    sockaddr_storage to{};
    socklen_t toLen;
    if (family_ == AF_INET) {
        auto& sin = reinterpret_cast<sockaddr_in&>(to);
        sin.sin_family = AF_INET;
        sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        toLen = sizeof(sin);
        if (packet.fromAlternateSource) fd = alternate_fd_;
    } else {
        auto& sin6 = reinterpret_cast<sockaddr_in6&>(to);
        sin6.sin6_family = AF_INET6;
        sin6.sin6_addr = in6addr_loopback;
        toLen = sizeof(sin6);
        if (packet.fromAlternateSource) fd = alternate_fd_;
    }
    if (::sendto(fd, packet.icmp.data(), packet.icmp.size(), 0, reinterpret_cast<sockaddr*>(&to),
                 toLen) == static_cast<ssize_t>(packet.icmp.size())) {
        ++sent_;
    }
}

// ---- Forging ---------------------------------------------------------------

std::uint16_t checksum(const std::vector<std::uint8_t>& data) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < data.size(); i += 2) {
        sum += static_cast<std::uint32_t>(data[i]) << 8;
        if (i + 1 < data.size()) sum += data[i + 1];
    }
    while (sum > 0xffff) sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum);
}

void store16(std::vector<std::uint8_t>& buf, std::size_t at, std::uint16_t value) {
    buf[at] = static_cast<std::uint8_t>(value >> 8);
    buf[at + 1] = static_cast<std::uint8_t>(value);
}

void fixChecksum(int family, std::vector<std::uint8_t>& icmp) {
    if (family != AF_INET) return;
    store16(icmp, 2, 0);
    store16(icmp, 2, checksum(icmp));
}

std::vector<std::uint8_t> mirrorReply(const SeenRequest& req) {
    std::vector<std::uint8_t> reply = req.icmp;
    reply[0] = req.family == AF_INET ? 0 : 129;
    reply[1] = 0;
    fixChecksum(req.family, reply);
    return reply;
}

std::vector<std::uint8_t> unreachableAbout(const SeenRequest& req, std::uint16_t quotedId,
                                           std::uint16_t quotedSeq,
                                           std::uint8_t quotedDstLastByte) {
    std::vector<std::uint8_t> quotedIcmp = req.icmp;
    store16(quotedIcmp, 4, quotedId);
    store16(quotedIcmp, 6, quotedSeq);
    std::vector<std::uint8_t> msg(8, 0);
    if (req.family == AF_INET) {
        msg[0] = 3;  // destination unreachable
        msg[1] = 1;  // host unreachable
        std::vector<std::uint8_t> ip = req.ipHeader;
        ip[19] = quotedDstLastByte;
        msg.insert(msg.end(), ip.begin(), ip.end());
    } else {
        msg[0] = 1;  // destination unreachable
        msg[1] = 3;  // address unreachable
        std::vector<std::uint8_t> ip(40, 0);
        ip[0] = 0x60;
        store16(ip, 4, static_cast<std::uint16_t>(quotedIcmp.size()));
        ip[6] = IPPROTO_ICMPV6;
        ip[7] = 64;
        ip[23] = 1;                  // source ::1
        ip[39] = quotedDstLastByte;  // destination ::1 unless changed
        msg.insert(msg.end(), ip.begin(), ip.end());
    }
    msg.insert(msg.end(), quotedIcmp.begin(), quotedIcmp.end());
    fixChecksum(req.family, msg);
    return msg;
}

}  // namespace zorvek_test
