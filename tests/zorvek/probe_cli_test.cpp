// SPDX-License-Identifier: MIT
// The zorvek-probe command and the result lines it prints.
#include <gtest/gtest.h>

#include <string>

#include "messages.h"
#include "sandbox.h"
#include "zorvek.h"

namespace zorvek_test {
namespace {

const std::string kProbe = ZORVEK_PROBE_PATH;

TEST(ResultMessages, EveryCodeHasItsLine) {
    EXPECT_EQ(zorvek::resultLine(-5),
              "--------------------WinSock version 1.1 がサポートされていません(-5)");
    EXPECT_EQ(zorvek::resultLine(-4), "--------------------Winsockの開始エラー(-4)");
    EXPECT_EQ(zorvek::resultLine(-3), "--------------------ICMPのアドレスが取得できません(-3)");
    EXPECT_EQ(zorvek::resultLine(-2), "--------------------ICMP.DLLが読み込めません(-2)");
    EXPECT_EQ(zorvek::resultLine(-1), "--------------------Host名が設定されていません(-1)");
    EXPECT_EQ(zorvek::resultLine(0), "--------------------成功しました(0)");
    EXPECT_EQ(zorvek::resultLine(1), "--------------------ホストが見つかりません(1)");
    EXPECT_EQ(zorvek::resultLine(2), "--------------------Pingでエラーが発生しました(2)");
    EXPECT_EQ(zorvek::resultLine(7), "--------------------(7)");
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

TEST(ProbeCommand, WrongArgumentCountIsAUsageError) {
    const auto none = runProgram({kProbe});
    EXPECT_EQ(none.first, 2);
    EXPECT_EQ(none.second, "");
    const auto two = runProgram({kProbe, "127.0.0.1", "::1"});
    EXPECT_EQ(two.first, 2);
    EXPECT_EQ(two.second, "");
}

TEST(ProbeCommand, SilentHostAndUnknownName) {
    SandboxOptions options;
    options.ignoreEcho4 = true;
    options.privateResolver = true;
    ZORVEK_RUN_SANDBOXED(outcome, options, [] {
        const auto silent = runProgram({kProbe, "127.0.0.1"});
        const auto unknown = runProgram({kProbe, "テスト.invalid"});
        return Fields{{"silent_status", std::to_string(silent.first)},
                      {"silent_out", silent.second},
                      {"unknown_status", std::to_string(unknown.first)},
                      {"unknown_out", unknown.second}};
    });
    EXPECT_EQ(outcome.number("silent_status"), 1);
    // Fields are line based, so the printed line break is not carried over.
    EXPECT_EQ(outcome.at("silent_out"), "--------------------Pingでエラーが発生しました(2)");
    EXPECT_EQ(outcome.number("unknown_status"), 1);
    EXPECT_EQ(outcome.at("unknown_out"), "--------------------ホストが見つかりません(1)");
}

}  // namespace
}  // namespace zorvek_test
