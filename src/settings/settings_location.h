// SPDX-License-Identifier: MIT
// Which Zorvek.ini the program reads at start-up and which one it saves to.
// The file lives beside the program whenever the user can keep it there. A
// program installed for the whole machine sits in a folder that belongs to
// root, where no user can save, so each user then keeps a file of their own in
// their configuration folder instead; a Zorvek.ini that an administrator put
// beside such a program is every user's start until they first save.
#pragma once

#include <filesystem>

namespace zorvek::settings {

struct SettingsLocation {
    std::filesystem::path loadFrom;  // read at start-up (may not exist)
    std::filesystem::path saveTo;    // written by the save command
};

// The user's own folder for Zorvek's settings: $XDG_CONFIG_HOME/zorvek, or
// ~/.config/zorvek when XDG_CONFIG_HOME is unset, empty or relative (relative
// ones are invalid and ignored). The home folder is $HOME, or the user's entry
// in the password database when HOME is unset or relative. Empty when neither
// can be had.
std::filesystem::path userSettingsFolder();

// The settings files for the program in `programDir`, for the user running it:
//  - programDir/Zorvek.ini when the user may create files in programDir, or
//    may write the Zorvek.ini there: the file beside the program, as always
//    (a file there the user may not write is then still never replaced);
//  - otherwise `userFolder`/Zorvek.ini is saved to, and read at start-up once
//    it exists (a link counts, whatever it names); before that the program
//    folder's own Zorvek.ini, when there is one, is read as the defaults.
// With no user folder (empty) the file beside the program is used, and saving
// there fails with the reason.
SettingsLocation settingsLocation(const std::filesystem::path& programDir,
                                  const std::filesystem::path& userFolder);

}  // namespace zorvek::settings
