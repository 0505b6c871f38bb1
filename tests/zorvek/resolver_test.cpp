// SPDX-License-Identifier: MIT
// Host names: resolution through a resolver this test controls, inside a
// private network and mount namespace, so no query ever leaves the machine.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <arpa/inet.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "sandbox.h"
#include "zorvek.h"

namespace zorvek_test {
namespace {

// A name server on 127.0.0.1:53 that takes queries and never answers.
class SilentNameServer {
public:
    SilentNameServer() {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd_ < 0) throw std::runtime_error("udp socket");
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(53);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
            throw std::runtime_error("cannot bind 127.0.0.1:53");
        }
    }
    ~SilentNameServer() { ::close(fd_); }
    // True if a query is waiting, unanswered.
    bool queryArrived() const {
        pollfd pfd{fd_, POLLIN, 0};
        return ::poll(&pfd, 1, 0) == 1;
    }

private:
    int fd_ = -1;
};

SandboxOptions resolverSandbox() {
    SandboxOptions options;
    options.privateResolver = true;
    return options;
}

TEST(PingingNames, StalledNameServerGivesUpWithinBound) {
    ZORVEK_RUN_SANDBOXED(outcome, resolverSandbox(), [] {
        SilentNameServer server;
        Fields f;
        timedPing(f, "stall.invalid");
        f["query_seen"] = std::to_string(static_cast<int>(server.queryArrived()));
        // The abandoned lookup is still running; a new call must not be affected.
        timedPing(f, "127.0.0.1", "after_");
        return f;
    });
    EXPECT_EQ(outcome.number("query_seen"), 1) << "the lookup never reached the stalled server";
    EXPECT_EQ(outcome.number("code"), ZORVEK_HOST_NOT_FOUND);
    EXPECT_LT(outcome.seconds("seconds"), 3.0);
    EXPECT_EQ(outcome.number("after_code"), ZORVEK_SUCCESS);
}

TEST(PingingNames, UnknownNameIsNotFound) {
    // Nothing listens on 127.0.0.1:53, so the resolver is refused at once.
    ZORVEK_RUN_SANDBOXED(outcome, resolverSandbox(), [] {
        Fields f;
        timedPing(f, "no-such-host.invalid");
        return f;
    });
    EXPECT_EQ(outcome.number("code"), ZORVEK_HOST_NOT_FOUND);
    EXPECT_LT(outcome.seconds("seconds"), 3.0);
}

TEST(PingingNames, MalformedNamesAreRejectedWithoutAQuery) {
    const std::vector<std::string> names = {
        "has space.invalid",
        "a..b.invalid",
        ".leading-dot.invalid",
        "[::1]",
        "bad!char.invalid",
        std::string(64, 'a') + ".invalid",                   // label longer than 63
        std::string(200, 'b') + "." + std::string(60, 'c'),  // name longer than 253
        "\x83\x65\x83\x58\x83\x67.invalid",                  // code page 932 bytes
    };
    ZORVEK_RUN_SANDBOXED(outcome, resolverSandbox(), [&names] {
        SilentNameServer server;
        Fields f;
        for (std::size_t i = 0; i < names.size(); ++i) {
            timedPing(f, names[i].c_str(), std::to_string(i) + "_");
        }
        f["query_seen"] = std::to_string(static_cast<int>(server.queryArrived()));
        return f;
    });
    for (std::size_t i = 0; i < names.size(); ++i) {
        SCOPED_TRACE("name #" + std::to_string(i) + ": " + names[i]);
        EXPECT_EQ(outcome.number(std::to_string(i) + "_code"), ZORVEK_HOST_NOT_FOUND);
    }
    EXPECT_EQ(outcome.number("query_seen"), 0);
}

TEST(PingingNames, AddressLiteralsNeverReachTheResolver) {
    ZORVEK_RUN_SANDBOXED(outcome, resolverSandbox(), [] {
        SilentNameServer server;
        Fields f;
        timedPing(f, "127.0.0.1", "v4_");
        timedPing(f, "::1", "v6_");
        timedPing(f, "0:0:0:0:0:0:0:1", "v6long_");
        f["query_seen"] = std::to_string(static_cast<int>(server.queryArrived()));
        return f;
    });
    EXPECT_EQ(outcome.number("v4_code"), ZORVEK_SUCCESS);
    EXPECT_EQ(outcome.number("v6_code"), ZORVEK_SUCCESS);
    EXPECT_EQ(outcome.number("v6long_code"), ZORVEK_SUCCESS);
    EXPECT_EQ(outcome.number("query_seen"), 0);
}

TEST(PingingNames, HostsFileNamesResolveWithoutTheNameServer) {
    ZORVEK_RUN_SANDBOXED(outcome, resolverSandbox(), [] {
        SilentNameServer server;
        Fields f;
        timedPing(f, "localhost", "plain_");
        timedPing(f, "LOCALHOST", "upper_");
        f["query_seen"] = std::to_string(static_cast<int>(server.queryArrived()));
        return f;
    });
    EXPECT_EQ(outcome.number("plain_code"), ZORVEK_SUCCESS);
    EXPECT_EQ(outcome.number("upper_code"), ZORVEK_SUCCESS);
    EXPECT_EQ(outcome.number("query_seen"), 0);
}

// A name with both kinds of address is probed over IPv4, whatever order the
// resolver returns them in; a name with only IPv6 is probed over IPv6.
TEST(PingingNames, DualStackNameIsProbedOverIPv4) {
    SandboxOptions options = resolverSandbox();
    options.extraHosts = "::1 dual.test\n127.0.0.1 dual.test\n::1 only6.test\n";
    options.ignoreEcho4 = true;  // only IPv6 answers
    ZORVEK_RUN_SANDBOXED(outcome, options, [] {
        Fields f;
        timedPing(f, "dual.test", "dual_");
        timedPing(f, "only6.test", "only6_");
        return f;
    });
    EXPECT_EQ(outcome.number("dual_code"), ZORVEK_PING_ERROR) << "IPv6 was probed instead of IPv4";
    EXPECT_EQ(outcome.number("only6_code"), ZORVEK_SUCCESS);
}

}  // namespace
}  // namespace zorvek_test
