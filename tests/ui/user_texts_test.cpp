// SPDX-License-Identifier: MIT
// The sentences made from what a lower layer reports: each kind of failure
// reads as the user has always read it.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "ui/user_texts.h"

namespace zorvek::ui {
namespace {

TEST(UserTexts, EachMissingConversionIsNamed) {
    const cp932::ConverterFailure to{cp932::Conversion::ToCp932, EINVAL, {}, {}};
    const cp932::ConverterFailure from{cp932::Conversion::FromCp932, EINVAL, {}, {}};
    EXPECT_EQ(converterMissingMessage(to),
              "コードページ932の文字コード変換が使えないため、Zorvekを起動できません。\n"
              "iconv cannot convert UTF-8 to CP932 (the C library's code page converters are "
              "not installed)");
    EXPECT_EQ(hostNotConvertedLine(from),
              "zorvek-probe: cannot convert the host name to code page 932: iconv cannot convert "
              "CP932 to UTF-8 (the C library's code page converters are not installed)\n");
}

// A copy refused to an elevated program names the copy and then what on its
// way made it unsafe, with the system's reason where a call failed.
TEST(UserTexts, ARefusedCopyNamesItselfAndWhatMadeItUnsafe) {
    using companion::LoadStep;
    const std::string copy = "/opt/z/libZorvek.so";
    EXPECT_EQ(loadFailureText(copy, {LoadStep::ExamineFolder, EACCES, "/opt/z", {}}),
              "not loading /opt/z/libZorvek.so with elevated privileges: cannot examine /opt/z: " +
                  std::string(std::strerror(EACCES)));
    EXPECT_EQ(loadFailureText(copy, {LoadStep::FileChangeable, 0, "/home/u/libZorvek.so", {}}),
              "not loading /opt/z/libZorvek.so with elevated privileges: the user can change "
              "/home/u/libZorvek.so");
    EXPECT_EQ(loadFailureText("libZorvek.so", {LoadStep::NoneBeside, 0, "/opt/z", {}}),
              "no libZorvek.so beside the program in /opt/z (with elevated privileges no other "
              "copy is used)");
}

// Each display that was tried gets a line of its own, after the platforms
// QT_QPA_PLATFORM named.
TEST(UserTexts, NoDisplayListsEveryDisplayTried) {
    DisplayChoice choice;
    choice.requested = "wayland;xcb";
    choice.failures = {{DisplayStep::WaylandCompositor, ECONNREFUSED, {}, "wayland-1"},
                       {DisplayStep::XDisplay, 0, {}, ":5"}};
    EXPECT_EQ(noDisplayMessage(choice),
              "ウィンドウを表示できる画面がないため、Zorvekを起動できません。\n"
              "QT_QPA_PLATFORM=wayland;xcb\n"
              "WAYLAND_DISPLAY=wayland-1: no Wayland compositor answers at (no XDG_RUNTIME_DIR)\n"
              "DISPLAY=:5: the X display cannot be opened");
}

// Why a second start will not find this one: the file concerned, and the
// system's reason where the socket could not be listened on.
TEST(UserTexts, AnUnguardedStartSaysWhyOnOneLine) {
    EXPECT_EQ(instanceFailureLine({InstanceStep::Lock, ENOLCK, "/run/u/z.lock", {}}),
              "zorvek: cannot lock /run/u/z.lock; a second start is not detected\n");
    EXPECT_EQ(instanceFailureLine({InstanceStep::Listen, EADDRINUSE, "/run/u/z", {}}),
              "zorvek: cannot listen on /run/u/z (" + std::string(std::strerror(EADDRINUSE)) +
                  "); a second start cannot show this one\n");
}

}  // namespace
}  // namespace zorvek::ui
