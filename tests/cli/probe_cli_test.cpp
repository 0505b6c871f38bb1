// SPDX-License-Identifier: MIT
// The zorvek-probe command: its options, the result lines it prints, and how
// it finds the companion library (the copy beside it, never a replaceable one
// while it holds a capability).
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "sandbox.h"
#include "zorvek.h"

namespace zorvek_test {
namespace {

namespace fs = std::filesystem;

const std::string kProbe = ZORVEK_PROBE_PATH;

// A folder of the test's own under /tmp, removed with everything in it.
struct TempFolder {
    fs::path path;
    TempFolder() {
        std::string name = (fs::temp_directory_path() / "zorvek-probe-XXXXXX").string();
        if (::mkdtemp(name.data()) != nullptr) path = name;
    }
    ~TempFolder() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

// A copy of zorvek-probe in `dir` with the stand-in library beside it as
// libZorvek.so; returns the copy's path.
fs::path probeWithStandIn(const fs::path& dir) {
    fs::copy_file(kProbe, dir / "zorvek-probe");
    fs::copy_file(ZORVEK_FAKE_LIBRARY, dir / "libZorvek.so");
    return dir / "zorvek-probe";
}

TEST(ProbeCommand, LoopbackSucceeds) {
    if (!canOpenIcmpSocket()) GTEST_SKIP() << "no ICMP socket allowed for this user";
    const auto [status, out] = runProgram({kProbe, "127.0.0.1"});
    EXPECT_EQ(status, 0);
    EXPECT_EQ(out, "--------------------成功しました(0)\n");
}

TEST(ProbeCommand, EmptyHost) {
    const auto [status, out] = runProgram({kProbe, ""});
    EXPECT_EQ(status, 1);
    EXPECT_EQ(out, "--------------------Host名が設定されていません(-1)\n");
}

TEST(ProbeCommand, OptionsAndUsageErrors) {
    const auto help = runProgram({kProbe, "--help"});
    EXPECT_EQ(help.first, 0);
    EXPECT_EQ(help.second.rfind("usage: zorvek-probe HOST\n", 0), 0u) << help.second;
    EXPECT_EQ(runProgram({kProbe, "--version"}),
              std::make_pair(0, std::string("zorvek-probe " ZORVEK_VERSION "\n")));
    EXPECT_EQ(runProgram({kProbe}), std::make_pair(2, std::string()));
    EXPECT_EQ(runProgram({kProbe, "127.0.0.1", "::1"}), std::make_pair(2, std::string()));
}

TEST(ProbeCommand, SpeaksWithTheProgramsMessagesThroughTheCopyBesideIt) {
    TempFolder dir;
    const fs::path probe = probeWithStandIn(dir.path);
    // An unknown code reads as it does in the program's log.
    EXPECT_EQ(runProgram({probe.string(), "code:7"}),
              std::make_pair(1, std::string("--------------------不明な結果コードです(7)\n")));

    // A copy beside it that cannot be loaded is reported with the reason and
    // never replaced by the working one on the library search path (which
    // would answer -1 for the empty host).
    std::ofstream(dir.path / "libZorvek.so", std::ios::trunc) << "not a library\n";
    const std::string bin = fs::path(kProbe).parent_path().string();
    const auto [status, out] =
        runProgram({"/bin/sh", "-c", "LD_LIBRARY_PATH=\"$1\" exec \"$0\" '' 2>&1", probe, bin});
    EXPECT_EQ(status, 1);
    EXPECT_NE(out.find("zorvek-probe: cannot load " + (dir.path / "libZorvek.so").string() + ": "),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("--------------------ICMP.DLLが読み込めません(-2)\n"), std::string::npos)
        << out;
}

TEST(ProbeCommand, CapabilitiesNeverReachALibraryTheUserCanReplace) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to set capabilities and switch users";
    const passwd* user = ::getpwuid(ensureTestUser());
    ASSERT_NE(user, nullptr);
    TempFolder base;
    struct statvfs fsInfo {};
    ASSERT_EQ(::statvfs(base.path.c_str(), &fsInfo), 0);
    if ((fsInfo.f_flag & ST_NOSUID) != 0) GTEST_SKIP() << "file capabilities are ignored on /tmp";
    fs::permissions(base.path, fs::perms(0755));
    fs::create_directory(base.path / "markers");
    fs::permissions(base.path / "markers", fs::perms(0777));

    // The same root-owned files in a folder the user owns, in one only root
    // may change but through a link into the user's folder, and in one only
    // root may change; a capability on the command makes it elevated.
    struct Case {
        const char* folder;
        bool userOwned;
        bool linkedToUsers;
        bool loads;
    };
    for (const Case& c : {Case{"users", true, false, false}, Case{"linked", false, true, false},
                          Case{"roots", false, false, true}}) {
        const fs::path dir = base.path / c.folder;
        fs::create_directory(dir);
        fs::permissions(dir, fs::perms(0755));
        if (c.userOwned) {
            ASSERT_EQ(::chown(dir.c_str(), user->pw_uid, user->pw_gid), 0);
        }
        const fs::path probe = probeWithStandIn(dir);
        if (c.linkedToUsers) {
            fs::remove(dir / "libZorvek.so");
            fs::create_symlink(base.path / "users" / "libZorvek.so", dir / "libZorvek.so");
        }
        ASSERT_EQ(runProgram({"/usr/sbin/setcap", "cap_net_raw+ep", probe}).first, 0);

        const fs::path marker = base.path / "markers" / c.folder;
        const auto [status, out] =
            runProgram({"/usr/bin/setpriv", "--reuid=" + std::to_string(user->pw_uid),
                        "--regid=" + std::to_string(user->pw_gid), "--clear-groups", "/usr/bin/env",
                        "ZORVEK_FAKE_MARKER=" + marker.string(), "ASAN_OPTIONS=detect_leaks=0",
                        probe, "127.0.0.1"});
        EXPECT_EQ(out, c.loads ? "--------------------成功しました(0)\n"
                               : "--------------------ICMP.DLLが読み込めません(-2)\n")
            << c.folder;
        EXPECT_EQ(status, c.loads ? 0 : 1) << c.folder;
        EXPECT_EQ(fs::exists(marker), c.loads) << c.folder;
    }
}

TEST(ProbeCommand, FailedProbeAndUnknownName) {
    // A namespace of the test's own with only loopback: 192.0.2.1 has no route
    // there, so the probe fails at once (code 2) and nothing leaves it.
    SandboxOptions options;
    options.privateResolver = true;
    ZORVEK_RUN_SANDBOXED(outcome, options, [] {
        const auto failed = runProgram({kProbe, "192.0.2.1"});
        const auto unknown = runProgram({kProbe, "テスト.invalid"});
        return Fields{{"failed_status", std::to_string(failed.first)},
                      {"failed_out", failed.second},
                      {"unknown_status", std::to_string(unknown.first)},
                      {"unknown_out", unknown.second}};
    });
    EXPECT_EQ(outcome.number("failed_status"), 1);
    // Fields are line based, so the printed line break is not carried over.
    EXPECT_EQ(outcome.at("failed_out"), "--------------------Pingでエラーが発生しました(2)");
    EXPECT_EQ(outcome.number("unknown_status"), 1);
    EXPECT_EQ(outcome.at("unknown_out"), "--------------------ホストが見つかりません(1)");
}

}  // namespace
}  // namespace zorvek_test
