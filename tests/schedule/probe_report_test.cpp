// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <string>
#include <utility>
#include <vector>

#include "companion/companion_library.h"
#include "schedule/probe_report.h"

namespace zorvek::schedule {
namespace {

// Records what a probe does to the window, in order.
struct RecordingUi : ProbeUi {
    std::vector<std::string> events;
    std::vector<std::string> log;
    std::function<void()> onWaitingEvents;
    std::function<void()> onBox;
    std::vector<std::function<void()>> openBoxes;  // the boxes not yet dismissed

    std::string timestamp() override { return "2026/12/07 3:04:05"; }
    void appendLog(const std::string& line) override {
        log.push_back(line);
        events.push_back("log:" + line);
    }
    void processWaitingEvents() override {
        events.push_back("events");
        if (onWaitingEvents) onWaitingEvents();
    }
    void openModalBox(const std::string& text, const std::string& title,
                      std::function<void()> closed) override {
        events.push_back("box:" + title + ":" + text);
        openBoxes.push_back(std::move(closed));
        if (onBox) onBox();
    }
    void dismissBoxes() {
        for (auto& closed : std::exchange(openBoxes, {})) closed();
    }
};

struct ProbeFixture : ::testing::Test {
    settings::SettingsRecord record;
    companion::ResultMessages messages;
    RecordingUi ui;
    companion::CompanionLibrary library{ZORVEK_FAKE_DIR, {}, "ZorvekFake"};
    ProbeReporter reporter{record, messages,
                           [this](const std::string& h) { return library.ping(h); }, ui};

    void SetUp() override { messages.fill(); }
};

TEST_F(ProbeFixture, SwitchesOffLeaveNoTrace) {
    record.HostName = "code:2";
    reporter.probeAndReport();
    EXPECT_TRUE(ui.events.empty());
}

TEST_F(ProbeFixture, SuccessLogsTwoLinesAndNeverBoxes) {
    record.HostName = "127.0.0.1";
    record.LogToList = 1;
    record.ShowErrorBox = 1;
    reporter.probeAndReport();
    EXPECT_EQ(ui.events, (std::vector<std::string>{"log:2026/12/07 3:04:05", "events",
                                                   "log:--------------------成功しました(0)"}));
}

TEST_F(ProbeFixture, EveryFailureCodeIsLoggedAndBoxedWithItsMessage) {
    const std::vector<std::pair<int, std::string>> table = {
        {-5, "WinSock version 1.1 がサポートされていません(-5)"},
        {-4, "Winsockの開始エラー(-4)"},
        {-3, "ICMPのアドレスが取得できません(-3)"},
        {-2, "ICMP.DLLが読み込めません(-2)"},
        {-1, "Host名が設定されていません(-1)"},
        {1, "ホストが見つかりません(1)"},
        {2, "Pingでエラーが発生しました(2)"},
        // Codes outside the table get a text of our own, never a row past it.
        {7, "不明な結果コードです(7)"},
        {-99, "不明な結果コードです(-99)"},
    };
    record.LogToList = 1;
    record.ShowErrorBox = 1;
    for (const auto& [code, text] : table) {
        ui.events.clear();
        ui.dismissBoxes();
        record.HostName = "code:" + std::to_string(code);
        reporter.probeAndReport();
        ASSERT_EQ(ui.events.size(), 4u) << code;
        EXPECT_EQ(ui.events[2], "log:--------------------" + text);
        EXPECT_EQ(ui.events[3], "box:Zorvekエラー:" + text);
    }
}

TEST_F(ProbeFixture, BoxWithoutLogShowsOnlyTheBox) {
    record.HostName = "code:1";
    record.ShowErrorBox = 1;
    reporter.probeAndReport();
    EXPECT_EQ(ui.events, (std::vector<std::string>{"box:Zorvekエラー:ホストが見つかりません(1)"}));
}

TEST_F(ProbeFixture, HostCrossesInCodePage932AndComesBackReplaced) {
    // The full-width tilde is 0x8160 in the Windows flavour of code page 932;
    // the snowman has no code there.
    record.HostName = "テスト～☃";
    reporter.probeAndReport();
    auto* lastHost = reinterpret_cast<const char* (*)()>(
        dlsym(dlopen(ZORVEK_FAKE_DIR "/libZorvekFake.so", RTLD_NOW | RTLD_NOLOAD), "LastHost"));
    ASSERT_NE(lastHost, nullptr);
    EXPECT_EQ(std::string(lastHost()), "\x83\x65\x83\x58\x83\x67\x81\x60?");
    EXPECT_EQ(record.HostName, "テスト～?");
}

TEST_F(ProbeFixture, EmptyHostIsStillPassedToTheLibrary) {
    // The fake returns 0 for anything that is not "code:N", so an empty host
    // reaching it shows as success; the real library answers -1.
    record.LogToList = 1;
    reporter.probeAndReport();
    EXPECT_EQ(ui.log.back(), "--------------------成功しました(0)");
}

TEST_F(ProbeFixture, ProbesNeverNestButAnOpenBoxHoldsNothingUp) {
    record.HostName = "code:2";
    record.LogToList = 1;
    record.ShowErrorBox = 1;
    int nestedBusy = 0;
    // While the probe lets waiting events run, a second request (a timer
    // tick, a click on the test button) does nothing.
    ui.onWaitingEvents = [&] {
        nestedBusy += reporter.busy();
        reporter.probeAndReport();
    };
    reporter.probeAndReport();
    EXPECT_EQ(nestedBusy, 1);
    EXPECT_EQ(ui.events.size(), 4u);
    EXPECT_FALSE(reporter.busy());
    EXPECT_TRUE(reporter.errorBoxOpen());

    // With the box still open the next probes run and log, but add no box.
    ui.onWaitingEvents = nullptr;
    reporter.probeAndReport();
    reporter.probeAndReport();
    EXPECT_EQ(ui.events.size(), 10u);
    EXPECT_EQ(ui.events.back(), "log:--------------------Pingでエラーが発生しました(2)");
    EXPECT_EQ(ui.openBoxes.size(), 1u);

    // Once it is dismissed, the next failure opens a new one.
    ui.dismissBoxes();
    EXPECT_FALSE(reporter.errorBoxOpen());
    reporter.probeAndReport();
    EXPECT_EQ(ui.events.back(), "box:Zorvekエラー:Pingでエラーが発生しました(2)");
    EXPECT_EQ(ui.openBoxes.size(), 1u);
}

}  // namespace
}  // namespace zorvek::schedule
