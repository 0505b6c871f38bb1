// SPDX-License-Identifier: MIT
// The system's ping as the last way to probe: small scripts stand in for it
// to check how its exit is read, that an overrun is killed and reaped, and
// what the child gets; then the real ping(8), run for an ordinary user in a
// namespace where that user may open no ICMP socket.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sandbox.h"
#include "system_ping.h"

namespace zorvek_test {
namespace {

using namespace std::chrono_literals;
using zorvek::echo::Outcome;
namespace system_ping = zorvek::system_ping;

// A private folder of stand-ins for ping(8), removed afterwards.
class StandIns : public ::testing::Test {
protected:
    void SetUp() override {
        char dir[] = "/tmp/zorvek-ping-XXXXXX";
        ASSERT_NE(::mkdtemp(dir), nullptr);
        dir_ = dir;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string write(const std::string& name, const std::string& text, mode_t mode = 0755) {
        const std::string path = dir_ + "/" + name;
        std::ofstream(path) << text;
        ::chmod(path.c_str(), mode);
        return path;
    }
    std::string read(const std::string& name) {
        std::ifstream in(dir_ + "/" + name);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::string dir_;
};

TEST_F(StandIns, TheFirstExecutableRegularFileIsChosen) {
    const std::string plain = write("plain", "#!/bin/sh\n", 0644);
    const std::string program = write("program", "#!/bin/sh\n");
    const std::string missing = dir_ + "/missing";
    const std::vector<const char*> locations = {missing.c_str(), dir_.c_str(), plain.c_str(),
                                                program.c_str()};
    EXPECT_EQ(system_ping::find(locations), program);
    EXPECT_EQ(system_ping::find(std::span(locations).first(3)), "");
}

struct ExitCase {
    const char* name;
    const char* script;
    Outcome expected;
};
void PrintTo(const ExitCase& c, std::ostream* out) { *out << c.name; }

class PingExit : public StandIns, public ::testing::WithParamInterface<ExitCase> {};

// What ping(8) says with its exit status, and a program that cannot be run.
TEST_P(PingExit, IsReadAsAnOutcome) {
    const std::string program = write("ping", GetParam().script);
    const auto start = Clock::now();
    const Outcome outcome = system_ping::probe(program, {loopbackAddress(AF_INET)}, start + 300ms);
    const std::chrono::duration<double> took = Clock::now() - start;
    EXPECT_EQ(outcomeName(outcome), std::string(outcomeName(GetParam().expected)));
    EXPECT_LT(took.count(), 1.0);
    // Whatever happened, no child of ours is left to reap.
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

INSTANTIATE_TEST_SUITE_P(
    All, PingExit,
    ::testing::Values(ExitCase{"Reply", "#!/bin/sh\nexit 0\n", Outcome::Reply},
                      ExitCase{"NoReply", "#!/bin/sh\nexit 1\n", Outcome::NoReply},
                      ExitCase{"CannotOpenItsSocket", "#!/bin/sh\nexit 2\n", Outcome::NoSocket},
                      ExitCase{"NotAProgram", "not a program\n", Outcome::NoSocket},
                      ExitCase{"OverrunIsKilled", "#!/bin/sh\nexec sleep 30\n", Outcome::NoReply}),
    PrintedParamName());

// The child gets the numeric address and fixed options, a fixed environment,
// /dev/null for its standard streams, and none of our descriptors.
TEST_F(StandIns, TheChildGetsOnlyWhatItNeeds) {
    const std::string report = dir_ + "/report";
    const std::string program =
        write("ping",
              "#!/bin/sh\nstreams=$(readlink /proc/$$/fd/0 /proc/$$/fd/1 /proc/$$/fd/2)\n{\n"
              "  echo \"$*\"\n  tr '\\0' ' ' </proc/$$/environ; echo\n"
              "  echo $streams\n"
              "  [ -e /proc/$$/fd/77 ] && echo inherited || echo closed\n} >>" +
                  report + "\nexit 0\n");
    const int leaked = ::open("/dev/null", O_RDONLY);  // inheritable on purpose
    ASSERT_GE(leaked, 0);
    ASSERT_EQ(::dup2(leaked, 77), 77);
    EXPECT_EQ(system_ping::probe(program, {loopbackAddress(AF_INET6)}, Clock::now() + 2400ms),
              Outcome::Reply);
    EXPECT_EQ(system_ping::probe(program, {loopbackAddress(AF_INET)}, Clock::now() + 1500ms),
              Outcome::Reply);
    ::close(77);
    ::close(leaked);
    const std::string expected =
        "-n -c 1 -W 2 -6 ::1\nLC_ALL=C PATH=/usr/bin:/bin \n/dev/null /dev/null /dev/null\nclosed\n"
        "-n -c 1 -W 1 -4 127.0.0.1\nLC_ALL=C PATH=/usr/bin:/bin \n/dev/null /dev/null /dev/null\n"
        "closed\n";
    EXPECT_EQ(read("report"), expected);
}

// A stand-in that starts a process of its own and never answers: at the
// bound the child's whole process group goes, so nothing of it runs on.
TEST_F(StandIns, AForkingPingLeavesNothingRunning) {
    const std::string program =
        write("ping", "#!/bin/sh\nsleep 30 &\necho $! >" + dir_ + "/started.tmp\nmv " + dir_ +
                          "/started.tmp " + dir_ + "/started\nexec sleep 30\n");
    EXPECT_EQ(system_ping::probe(program, {loopbackAddress(AF_INET)}, Clock::now() + 1500ms),
              Outcome::NoReply);
    const std::string started = read("started");
    ASSERT_FALSE(started.empty()) << "the stand-in did not get to start its process";
    const pid_t grandchild = std::stoi(started);
    // Killed, it is reaped by init in a moment; until then it is a zombie.
    const auto running = [&] {
        std::ifstream stat("/proc/" + std::to_string(grandchild) + "/stat");
        std::string pid, name, state;
        return static_cast<bool>(stat >> pid >> name >> state) && state != "Z";
    };
    const auto until = Clock::now() + 5s;
    while (running() && Clock::now() < until) std::this_thread::sleep_for(10ms);
    EXPECT_FALSE(running());
}

// The real thing: an ordinary user, no ping socket allowed ("1 0"), no raw
// socket without privileges. zorvek-probe reaches loopback through ping(8),
// over IPv4 and IPv6; with ping hidden too, nothing is left and it says -4.
TEST(PingProgramFallback, OrdinaryUserProbesThroughThePingProgram) {
    if (::geteuid() != 0) GTEST_SKIP() << "creating a user and namespaces needs root";
    if (system_ping::find(system_ping::kLocations).empty()) GTEST_SKIP() << "no ping(8)";
    ensureTestUser();
    SandboxOptions options;
    options.pingGroupRange = "1 0";
    ZORVEK_RUN_SANDBOXED(outcome, options, [] {
        const std::vector<std::string> asUser = {
            "/usr/bin/setpriv", std::string("--reuid=") + kTestUser,
            std::string("--regid=") + kTestUser, "--clear-groups", ZORVEK_PROBE_PATH};
        Fields f;
        auto run = [&](const std::string& key, const char* host) {
            std::vector<std::string> argv = asUser;
            argv.push_back(host);
            const auto start = Clock::now();
            const auto [status, out] = runProgram(argv);
            f[key + "_status"] = std::to_string(status);
            f[key + "_out"] = out.substr(0, out.find('\n'));
            f[key + "_seconds"] =
                std::to_string(std::chrono::duration<double>(Clock::now() - start).count());
        };
        run("v4", "127.0.0.1");
        run("v6", "::1");
        if (::unshare(CLONE_NEWNS) != 0) throw SkipCase("unshare(CLONE_NEWNS)");
        hideSystemPing();
        run("hidden", "127.0.0.1");
        return f;
    });
    EXPECT_EQ(outcome.at("v4_out"), "--------------------成功しました(0)");
    EXPECT_EQ(outcome.number("v4_status"), 0);
    EXPECT_EQ(outcome.at("v6_out"), "--------------------成功しました(0)");
    EXPECT_EQ(outcome.at("hidden_out"), "--------------------Winsockの開始エラー(-4)");
    EXPECT_EQ(outcome.number("hidden_status"), 1);
    EXPECT_LT(outcome.seconds("hidden_seconds"), 3.0);
}

}  // namespace
}  // namespace zorvek_test
