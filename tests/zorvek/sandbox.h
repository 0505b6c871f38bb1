// SPDX-License-Identifier: MIT
// Helpers for probing inside throw-away network (and mount) namespaces.
//
// Each sandboxed case runs in a forked child: the child unshares its network
// namespace (so sysctls, loopback state and any traffic stay private to it),
// optionally a mount namespace with its own resolver files, runs the case and
// reports key=value fields back over a pipe. The parent bounds it in time.
#pragma once

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <ostream>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "echo.h"

namespace zorvek_test {

using Clock = std::chrono::steady_clock;
using Fields = std::map<std::string, std::string>;

struct SandboxOptions {
    bool loopbackUp = true;
    bool ignoreEcho4 = false;    // net.ipv4.icmp_echo_ignore_all
    bool ignoreEcho6 = false;    // net.ipv6.icmp.echo_ignore_all
    std::string pingGroupRange;  // net.ipv4.ping_group_range; empty: keep default
    bool ipv4Loopback = true;    // false: 127.0.0.1/8 removed from lo, so no IPv4 route at all
    // Private mount namespace whose /etc/resolv.conf names 127.0.0.1 as the only
    // name server (or holds `resolvConf`), /etc/hosts holds only loopback names
    // (plus `extraHosts`), and /etc/nsswitch.conf says "hosts: files dns".
    bool privateResolver = false;
    std::string extraHosts;
    std::string resolvConf;
    // Private mount namespace in which /usr/bin/ping and /bin/ping are
    // /dev/null: no ping program to fall back on.
    bool hidePingProgram = false;
};

// How the library gets its ICMP socket inside a sandbox.
enum class SocketMode {
    Raw,          // ping sockets refused ("1 0"), still root: only a raw socket works
    Datagram,     // ping sockets allowed for all groups, privileges dropped: no raw socket
    PingProgram,  // ping sockets refused, privileges dropped: no socket, only ping(8)
};
const char* modeName(SocketMode mode);
// Readable parameter values in test output.
void PrintTo(SocketMode mode, std::ostream* out);
// Sandbox options that leave the library only the given socket kind...
SandboxOptions optionsFor(SocketMode mode);
// ...completed inside the child, after any raw sockets the test needs are open.
void enterMode(SocketMode mode);

// 127.0.0.1 or ::1, port 0.
sockaddr_storage loopbackAddress(int family);

// "Reply", "NoReply" or "NoSocket", for reporting an outcome as a field.
const char* outcomeName(zorvek::echo::Outcome outcome);

// True if this process may open an ICMP socket of either kind (for tests that
// probe loopback in the machine's own namespace).
bool canOpenIcmpSocket();

struct ChildOutcome {
    enum class Kind { Done, Skipped, Failed };
    Kind kind = Kind::Failed;
    std::string detail;  // skip reason or failure description
    Fields fields;

    const std::string& at(const std::string& key) const;
    int number(const std::string& key) const { return std::stoi(at(key)); }
    double seconds(const std::string& key) const { return std::stod(at(key)); }
};

// Thrown inside a child to skip the case (the environment cannot host it).
struct SkipCase : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Runs `body` in a forked child inside a sandbox built from `options`. The
// child is killed if it has not reported within `limit`.
ChildOutcome runSandboxed(const SandboxOptions& options, const std::function<Fields()>& body,
                          std::chrono::seconds limit = std::chrono::seconds(20));

// Result code and wall time of one Pinging() call, as fields "<prefix>code"
// and "<prefix>seconds".
void timedPing(Fields& fields, const char* host, const std::string& prefix = "");

// Inside a mount namespace of this process's own: /dev/null over
// /usr/bin/ping and /bin/ping, which are then neither regular files nor
// executable. Throws SkipCase if it cannot.
void hideSystemPing();

// Gives up root for good: no supplementary groups, gid and uid 65534, and so
// no capabilities (CAP_NET_RAW included). Throws if anything is left.
void dropToNobody();

// Runs a program, returns its exit status (or -1) and standard output.
std::pair<int, std::string> runProgram(const std::vector<std::string>& argv,
                                       std::chrono::seconds limit = std::chrono::seconds(20));

// The ordinary (unprivileged) user the tests run programs as, created when
// missing; its uid. Throws if it can be neither found nor created.
inline constexpr const char* kTestUser = "zorvek-test";
uid_t ensureTestUser();

// Number of threads of this process.
int threadCount();

// Number of open file descriptors of this process.
int openDescriptorCount();

// An echo request seen on loopback by the Responder.
struct SeenRequest {
    int ordinal = 0;  // 1 for the first distinct request, then 2, ...
    int family = 0;
    std::uint16_t id = 0;
    std::uint16_t seq = 0;
    std::vector<std::uint8_t> icmp;      // the ICMP message as sent
    std::vector<std::uint8_t> ipHeader;  // IPv4 only: its IP header as received
};

// A packet for the Responder to send to the loopback address of its family.
struct Forged {
    std::vector<std::uint8_t> icmp;
    bool fromAlternateSource = false;  // sent from 127.0.0.2 or fd00::2 instead of loopback
};

using Policy = std::function<std::vector<Forged>(const SeenRequest&)>;

// Watches ICMP echo requests to 127.0.0.1 or ::1 on a raw socket and answers
// each new one with whatever the policy forges. Open it while still root; it
// keeps working after DropToNobody().
class Responder {
public:
    Responder(int family, Policy policy);
    ~Responder();
    Responder(const Responder&) = delete;
    Responder& operator=(const Responder&) = delete;

    void start();
    // Lets late packets arrive for `grace`, then stops the watching thread.
    void stop(std::chrono::milliseconds grace = std::chrono::milliseconds(100));
    int requestsSeen() const { return seen_.load(); }
    int packetsSent() const { return sent_.load(); }
    // Seconds from the first distinct request to the second (-1 if fewer seen).
    double secondsBetweenRequests() const;

private:
    void loop();
    void openSockets(int family);
    // `arrived`: the kernel's receive time of the packet, in seconds.
    void handle(const std::uint8_t* data, std::size_t len, double arrived);
    void send(const Forged& packet);

    int family_;
    Policy policy_;
    int watch_fd_ = -1;
    int alternate_fd_ = -1;
    std::atomic<bool> stop_{false};
    std::atomic<int> seen_{0};
    std::atomic<int> sent_{0};
    std::atomic<double> betweenRequests_{-1};
    double firstSeen_ = 0;
    std::set<std::pair<std::uint16_t, std::uint16_t>> known_;
    std::thread thread_;
};

// Forging helpers. Checksums are computed here, independently of the library.
std::uint16_t checksum(const std::vector<std::uint8_t>& data);
// Echo reply mirroring `req`; for IPv4 the checksum is filled in.
std::vector<std::uint8_t> mirrorReply(const SeenRequest& req);
// Recomputes the IPv4 ICMP checksum after an edit (no-op for ICMPv6, where
// the kernel fills it in).
void fixChecksum(int family, std::vector<std::uint8_t>& icmp);
// Destination unreachable about `req`, quoting its IP header and ICMP message.
// `quoted_dst_last_byte` replaces the last byte of the quoted destination.
std::vector<std::uint8_t> unreachableAbout(const SeenRequest& req, std::uint16_t quotedId,
                                           std::uint16_t quotedSeq,
                                           std::uint8_t quotedDstLastByte = 1);
void store16(std::vector<std::uint8_t>& buf, std::size_t at, std::uint16_t value);

}  // namespace zorvek_test

// Names a parameterised case after its parameters' printed forms, joined:
// "RawIPv4WrongCookie". Each parameter type has a PrintTo giving a word.
struct PrintedParamName {
    template <class T>
    std::string operator()(const ::testing::TestParamInfo<T>& info) const {
        return join(info.param);
    }

private:
    template <class... Ts>
    static std::string join(const std::tuple<Ts...>& values) {
        return std::apply([](const auto&... v) { return (::testing::PrintToString(v) + ...); },
                          values);
    }
    template <class T>
    static std::string join(const T& value) {
        return ::testing::PrintToString(value);
    }
};

// Runs a sandboxed case, skipping the test if the sandbox cannot be built.
// The body goes last and may contain commas.
#define ZORVEK_RUN_SANDBOXED(outcome, options, ...)                                                \
    const ::zorvek_test::ChildOutcome outcome = ::zorvek_test::runSandboxed(options, __VA_ARGS__); \
    if (outcome.kind == ::zorvek_test::ChildOutcome::Kind::Skipped) {                              \
        GTEST_SKIP() << outcome.detail;                                                            \
    }                                                                                              \
    ASSERT_EQ(outcome.kind, ::zorvek_test::ChildOutcome::Kind::Done) << outcome.detail
