// SPDX-License-Identifier: MIT
// Which Zorvek.ini a user reads and saves: beside the program where the user
// can keep it there, else in the user's own configuration folder, with an
// administrator's read-only file beside the program as the defaults until the
// first save. The permission cases run as an ordinary user (nobody when the
// tests run as root, whom no permission bit stops).
#include "settings/settings_location.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>

#include "save_outcome.h"
#include "scratch_folder.h"
#include "settings/file_io.h"
#include "settings/settings_store.h"

namespace zorvek::settings {
namespace {

namespace fs = std::filesystem;

class SettingsLocationTest : public ::testing::Test {
protected:
    // A program folder the writer may write to or not, holding a Zorvek.ini
    // of `iniMode` owned by the writer or by this process, or none.
    fs::path programFolder(const std::string& name, bool writable,
                           std::optional<mode_t> iniMode = std::nullopt, bool iniByWriter = false) {
        const fs::path path = dir_ / name;
        fs::create_directories(path);
        if (iniMode) {
            std::ofstream(settingsPathIn(path))
                << "\"defaults\",\"5\",\"23:00\",\"07:59\",1,0,0\r\n";
            EXPECT_EQ(
                ::chown(settingsPathIn(path).c_str(), iniByWriter ? writerUid() : ::geteuid(), -1),
                0);
            EXPECT_EQ(::chmod(settingsPathIn(path).c_str(), *iniMode), 0);
        }
        EXPECT_EQ(::chown(path.c_str(), writable ? writerUid() : ::geteuid(), -1), 0);
        EXPECT_EQ(::chmod(path.c_str(), writable ? 0755 : 0555), 0);
        return path;
    }

    ScratchFolder scratch_{"zorvek-location"};
    const fs::path dir_ = scratch_.path();
};

// settingsLocation() as the writer, in a child so that its identity cannot
// leak into other tests.
SettingsLocation locateAsWriter(const fs::path& programDir, const fs::path& userFolder) {
    int pipeFds[2];
    EXPECT_EQ(::pipe(pipeFds), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        if (::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0))
            ::_exit(3);
        const SettingsLocation found = settingsLocation(programDir, userFolder);
        const std::string answer = found.loadFrom.string() + '\n' + found.saveTo.string();
        const bool sent = ::write(pipeFds[1], answer.data(), answer.size()) ==
                          static_cast<ssize_t>(answer.size());
        ::_exit(sent ? 0 : 4);
    }
    ::close(pipeFds[1]);
    std::string answer;
    char buffer[512];
    for (ssize_t got; (got = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        answer.append(buffer, static_cast<size_t>(got));
    ::close(pipeFds[0]);
    int status = 0;
    EXPECT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
    const size_t line = answer.find('\n');
    if (line == std::string::npos) return {};
    return {answer.substr(0, line), answer.substr(line + 1)};
}

TEST_F(SettingsLocationTest, BesideTheProgramWhereTheUserCanKeepItElseTheUsersOwnFile) {
    const fs::path user = dir_ / "config" / "zorvek";  // not made yet
    const fs::path savedBefore = dir_ / "saved" / "zorvek";
    fs::create_directories(savedBefore);
    std::ofstream(settingsPathIn(savedBefore)) << "\"mine\",\"5\",\"23:00\",\"07:59\",1,0,0\r\n";

    const struct {
        const char* name;
        fs::path programDir;
        fs::path userFolder;
        fs::path loadFrom;
        fs::path saveTo;
    } cases[] = {
        {"a folder the user may write", programFolder("own", true), user,
         settingsPathIn(dir_ / "own"), settingsPathIn(dir_ / "own")},
        {"a file the user may write in a closed folder", programFolder("shared", false, 0644, true),
         user, settingsPathIn(dir_ / "shared"), settingsPathIn(dir_ / "shared")},
        {"a closed folder without a file", programFolder("system", false), user,
         settingsPathIn(user), settingsPathIn(user)},
        {"an administrator's file, before the first save", programFolder("defaults", false, 0444),
         user, settingsPathIn(dir_ / "defaults"), settingsPathIn(user)},
        {"an administrator's file, after the first save", dir_ / "defaults", savedBefore,
         settingsPathIn(savedBefore), settingsPathIn(savedBefore)},
        {"no user folder known", dir_ / "system", fs::path(), settingsPathIn(dir_ / "system"),
         settingsPathIn(dir_ / "system")},
    };
    for (const auto& c : cases) {
        const SettingsLocation found = locateAsWriter(c.programDir, c.userFolder);
        EXPECT_EQ(found.loadFrom, c.loadFrom) << c.name;
        EXPECT_EQ(found.saveTo, c.saveTo) << c.name;
    }
}

TEST_F(SettingsLocationTest, UserFolderFollowsTheBaseDirectoryRules) {
    const char* const savedConfig = std::getenv("XDG_CONFIG_HOME");
    const char* const savedHome = std::getenv("HOME");
    const std::optional<std::string> config =
        savedConfig ? std::optional<std::string>(savedConfig) : std::nullopt;
    const std::optional<std::string> home =
        savedHome ? std::optional<std::string>(savedHome) : std::nullopt;

    ::setenv("HOME", "/home/jane", 1);
    ::setenv("XDG_CONFIG_HOME", "/srv/jane config", 1);
    EXPECT_EQ(userSettingsFolder(), fs::path("/srv/jane config/zorvek"));
    ::setenv("XDG_CONFIG_HOME", "relative/config", 1);  // invalid, so ignored
    EXPECT_EQ(userSettingsFolder(), fs::path("/home/jane/.config/zorvek"));
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(userSettingsFolder(), fs::path("/home/jane/.config/zorvek"));
    ::unsetenv("HOME");  // the password database's home folder instead
    const fs::path fromDatabase = userSettingsFolder();
    EXPECT_TRUE(fromDatabase.is_absolute()) << fromDatabase;
    EXPECT_EQ(fromDatabase.filename(), "zorvek");

    if (config) ::setenv("XDG_CONFIG_HOME", config->c_str(), 1);
    if (home) ::setenv("HOME", home->c_str(), 1);
}

// The first save makes the user's configuration folder, private to the user.
TEST_F(SettingsLocationTest, FirstSaveMakesThePrivateUserFolder) {
    const fs::path file = settingsPathIn(dir_ / "config" / "zorvek");
    SettingsControls controls;
    controls.text = {"example.org", "5", "23:00", "07:59"};
    SettingsRecord record;
    const SaveOutcome result = saveDescribed(file, controls, record);
    ASSERT_TRUE(result.written) << result.error;
    EXPECT_EQ(result.path, file);
    for (const fs::path& folder : {dir_ / "config", dir_ / "config" / "zorvek"}) {
        struct stat st {};
        ASSERT_EQ(::stat(folder.c_str(), &st), 0) << folder;
        EXPECT_EQ(st.st_mode & 0777, 0700u) << folder;
    }
    SettingsControls loaded;
    SettingsRecord again;
    EXPECT_EQ(loadSettings(file, loaded, again), LoadStage::Complete);
    EXPECT_EQ(loaded.text[0], "example.org");
}

}  // namespace
}  // namespace zorvek::settings
