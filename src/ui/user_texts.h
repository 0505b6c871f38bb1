// SPDX-License-Identifier: MIT
// Every sentence the program shows or prints to its user, in one place: the
// titles and texts of its message boxes, the reasons a save failed and why
// the program cannot start. The lower layers say only what failed (a step,
// an errno, a path); the words are chosen here. The window's own captions
// live with the window, and the probe's result lines in its result table.
// Plain strings without Qt, so that tests of the lower layers can read the
// sentences their failures become.
#pragma once

#include <string>

#include "base/failure.h"
#include "companion/companion_library.h"
#include "settings/file_io.h"
#include "text/cp932.h"
#include "ui/display_check.h"

namespace zorvek::ui {

// The title of the program's message boxes.
inline constexpr char kAppTitle[] = "Zorvek";

// Leaving the interval field with a count that is not 1 to 999, or a time
// field with text that is not a time.
inline constexpr char kIntervalMessage[] = "1～999の数字を入力して下さい";
inline constexpr char kTimeMessage[] = "時間を入力して下さい";

// Why the settings could not be saved, one sentence or two.
std::string saveFailureText(const settings::SaveFailure& failure);

// The box after a failed save: the file's path and why.
std::string saveFailedMessage(const std::string& path, const settings::SaveFailure& failure);

// Which code page 932 conversion the C library cannot make, in English, for
// the reason beneath a sentence.
std::string converterFailureText(const cp932::ConverterFailure& failure);

// Why the program cannot start, with what the check found beneath.
std::string converterMissingMessage(const cp932::ConverterFailure& failure);
std::string programFolderUnknownMessage();
std::string noDisplayMessage(const DisplayChoice& choice);

// Printed to standard error, "zorvek: " first, when the program is started
// with privileges it refuses to hold.
inline constexpr char kElevatedRefusal[] =
    "zorvek: refusing to run with elevated privileges (file capabilities, setuid or "
    "setgid); it needs none, remove them\n";

// A reason for standard error, with the program's name in front.
std::string standardErrorLine(const std::string& text);

// What keeps a second start from finding this one, or this start from
// reaching the first: the runtime folder (none private, or not opened), the
// lock file (not opened, not locked), the first start not answering, or the
// socket a second start would call not listened on.
enum class InstanceStep { NoPrivateFolder, OpenFolder, OpenLock, Lock, NoAnswer, Listen };
using InstanceFailure = base::Failure<InstanceStep>;

// The line of standard error that says so, "zorvek: " first.
std::string instanceFailureLine(const InstanceFailure& failure);

// Why the companion library was not loaded, in English, for standard error:
// `library` is the copy concerned as the loader names it.
std::string loadFailureText(const std::string& library, const companion::LoadFailure& failure);

// The same as a line of standard error, with the name the running program
// was started by in front (zorvek or zorvek-probe).
std::string loadFailureLine(const std::string& library, const companion::LoadFailure& failure);

// zorvek-probe's line on standard error when the host name it was given
// cannot be converted to code page 932.
std::string hostNotConvertedLine(const cp932::ConverterFailure& failure);

}  // namespace zorvek::ui
