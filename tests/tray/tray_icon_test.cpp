// SPDX-License-Identifier: MIT
#include "tray/tray_icon.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tray/shell.h"

namespace zorvek::tray {
namespace {

constexpr uint32_t kWindow = 0x00A1B2C3;
constexpr uint32_t kNormal = 0x11223344;
constexpr uint32_t kActive = 0x55667788;
const char* const kCaption = "Zorvek-自動Pinging";

// The record expected after add(), written out byte by byte.
TrayIconRecord::Bytes expectedAfterAdd() {
    TrayIconRecord::Bytes b{};
    const uint8_t head[24] = {
        89,   0,    0,    0,     // cbSize
        0xC3, 0xB2, 0xA1, 0x00,  // hWnd
        1,    0,    0,    0,     // uID
        7,    0,    0,    0,     // uFlags: message, icon, tip
        0x00, 0x02, 0,    0,     // uCallbackMessage 512
        0x44, 0x33, 0x22, 0x11,  // hIcon: normal
    };
    for (size_t i = 0; i < 24; ++i) b[i] = head[i];
    const std::string tip = "Zorvek-\x8E\xA9\x93\xAEPinging";
    for (size_t i = 0; i < tip.size(); ++i) b[24 + i] = static_cast<uint8_t>(tip[i]);
    return b;
}

TrayIconRecord::Bytes withIcon(TrayIconRecord::Bytes b, uint32_t icon) {
    for (size_t i = 0; i < 4; ++i) b[20 + i] = static_cast<uint8_t>(icon >> (8 * i));
    return b;
}

struct Fixture {
    TrayIconRecord record;
    RecordingShell shell;
    std::string iconState = "0";
    TrayIcon icon{record, shell, iconState};
};

TEST(TrayIcon, AddFillsTheRecordAndShowsTheIcon) {
    Fixture f;
    f.icon.add(kWindow, kCaption, kNormal);
    ASSERT_EQ(f.shell.calls().size(), 1u);
    EXPECT_EQ(f.shell.calls()[0].operation, NIM_ADD);
    EXPECT_EQ(f.shell.calls()[0].bytes, expectedAfterAdd());
    EXPECT_EQ(f.record.bytes(), expectedAfterAdd());
    EXPECT_EQ(f.iconState, "0");
}

TEST(TrayIcon, SwitchesSendTheWholeRecordOnlyWhenThePictureChanges) {
    Fixture f;
    f.icon.add(kWindow, kCaption, kNormal);
    const auto added = expectedAfterAdd();

    struct Step {
        int state;
        bool sends;
        uint32_t iconAfter;
        const char* textAfter;
    };
    const Step steps[] = {
        {0, false, kNormal, "0"},                            // already normal
        {1, true, kActive, "1"},  {1, false, kActive, "1"},  // already active
        {0, true, kNormal, "0"},  {0, false, kNormal, "0"},
        {1, true, kActive, "1"},  {2, false, kActive, "1"},  // not a state
    };
    size_t expectedCalls = 1;
    for (size_t i = 0; i < std::size(steps); ++i) {
        const Step& s = steps[i];
        SCOPED_TRACE("step " + std::to_string(i) + ": state " + std::to_string(s.state));
        f.icon.setTrayIconState(s.state, kNormal, kActive);
        if (s.sends) ++expectedCalls;
        ASSERT_EQ(f.shell.calls().size(), expectedCalls);
        EXPECT_EQ(f.iconState, s.textAfter);
        EXPECT_EQ(f.record.hIcon(), s.iconAfter);
        if (s.sends) {
            // Same size, window, id, flags, callback and tip; only the picture differs.
            EXPECT_EQ(f.shell.calls().back().operation, NIM_MODIFY);
            EXPECT_EQ(f.shell.calls().back().bytes, withIcon(added, s.iconAfter));
        }
    }
    // Earlier calls kept the bytes of their moment.
    EXPECT_EQ(f.shell.calls()[0].bytes, added);
}

TEST(TrayIcon, RemoveSendsTheRecordAsItIs) {
    Fixture f;
    f.icon.add(kWindow, kCaption, kNormal);
    f.icon.setTrayIconState(1, kNormal, kActive);
    f.icon.remove();
    ASSERT_EQ(f.shell.calls().size(), 3u);
    EXPECT_EQ(f.shell.calls()[2].operation, NIM_DELETE);
    EXPECT_EQ(f.shell.calls()[2].bytes, withIcon(expectedAfterAdd(), kActive));
}

// The state text belongs to the window; whatever it holds is read as a number.
TEST(TrayIcon, StateTextIsReadAsANumber) {
    struct Row {
        const char* text;
        int value;
    };
    const Row rows[] = {
        {"0", 0},  {"1", 1},   {" 1", 1},  {"1 ", 1},          {"1x", 1}, {"", 0},
        {"x1", 0}, {"abc", 0}, {"-1", -1}, {"99999999999", 0}, {"2", 2},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string("\"") + r.text + "\"");
        EXPECT_EQ(readIconState(r.text), r.value);
    }
}

TEST(TrayIcon, SwitchDependsOnWhatTheStateTextReads) {
    struct Row {
        const char* text;
        int state;
        bool sends;
        const char* textAfter;
    };
    const Row rows[] = {
        {"junk", 1, true, "1"},  // junk reads 0: the normal icon
        {"junk", 0, false, "junk"}, {" 1", 0, true, "0"},
        {" 1", 1, false, " 1"},     {"2", 1, false, "2"},  // neither 0 nor 1: no switch either way
        {"2", 0, false, "2"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string("\"") + r.text + "\" to " + std::to_string(r.state));
        Fixture f;
        f.icon.add(kWindow, kCaption, kNormal);
        f.iconState = r.text;
        f.icon.setTrayIconState(r.state, kNormal, kActive);
        EXPECT_EQ(f.shell.calls().size(), r.sends ? 2u : 1u);
        EXPECT_EQ(f.iconState, r.textAfter);
    }
}

TEST(TrayIcon, MouseCodes) {
    struct Row {
        int code;
        TrayAction action;
    };
    const Row rows[] = {
        {513, TrayAction::ShowWindow},  // left button pressed
        {516, TrayAction::PopupMenu},   // right button pressed
        {512, TrayAction::None},         {514, TrayAction::None},  {515, TrayAction::None},
        {517, TrayAction::None},         {518, TrayAction::None},  {519, TrayAction::None},
        {0, TrayAction::None},           {-513, TrayAction::None}, {-1, TrayAction::None},
        {513 + 65536, TrayAction::None},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.code);
        EXPECT_EQ(actionForCode(r.code), r.action);
    }
}

}  // namespace
}  // namespace zorvek::tray
