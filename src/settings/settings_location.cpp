// SPDX-License-Identifier: MIT
#include "settings/settings_location.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "settings/file_io.h"

namespace zorvek::settings {
namespace {

bool isAbsolute(const char* path) { return path != nullptr && path[0] == '/'; }

bool entryExists(const std::filesystem::path& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace

std::filesystem::path userSettingsFolder() {
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); isAbsolute(config)) {
        return std::filesystem::path(config) / "zorvek";
    }
    std::filesystem::path home;
    if (const char* fromEnvironment = std::getenv("HOME"); isAbsolute(fromEnvironment)) {
        home = fromEnvironment;
    } else if (const struct passwd* entry = ::getpwuid(::getuid());
               entry != nullptr && isAbsolute(entry->pw_dir)) {
        home = entry->pw_dir;
    } else {
        return {};
    }
    return home / ".config" / "zorvek";
}

SettingsLocation settingsLocation(const std::filesystem::path& programDir,
                                  const std::filesystem::path& userFolder) {
    const std::filesystem::path beside = settingsPathIn(programDir);
    // access() asks the kernel with the user's own rights, so a read-only
    // mount, ACLs and root's rights all count as they would for the save.
    const bool folderWritable = ::access(programDir.c_str(), W_OK | X_OK) == 0;
    const bool fileWritable = entryExists(beside) && ::access(beside.c_str(), W_OK) == 0;
    if (folderWritable || fileWritable || userFolder.empty()) return {beside, beside};

    const std::filesystem::path own = settingsPathIn(userFolder);
    if (entryExists(own) || !entryExists(beside)) return {own, own};
    return {beside, own};
}

}  // namespace zorvek::settings
