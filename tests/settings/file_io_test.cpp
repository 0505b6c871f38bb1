// SPDX-License-Identifier: MIT
#include "settings/file_io.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <future>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "save_outcome.h"
#include "scratch_folder.h"
#include "settings/settings_file.h"
#include "settings/settings_store.h"

namespace zorvek::settings {
namespace {

namespace fs = std::filesystem;

class FileIoTest : public ::testing::Test {
protected:
    static void writeFile(const fs::path& path, const std::string& bytes) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << bytes;
        ASSERT_TRUE(out.good()) << path;
    }
    static std::string readFile(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static mode_t modeOf(const fs::path& path) {
        struct stat st {};
        EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
        return st.st_mode & 07777;
    }
    static ino_t inodeOf(const fs::path& path) {
        struct stat st {};
        EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
        return st.st_ino;
    }
    // Files the writer may have left behind in `dir`.
    static std::vector<std::string> leftovers(const fs::path& dir) {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind(".Zorvek.ini.", 0) == 0) names.push_back(name);
        }
        return names;
    }

    // A folder for the writer: `writable` to it, or read-only (0555) to
    // anyone but root.
    fs::path folder(const std::string& name, bool writable) {
        const fs::path path = dir_ / name;
        fs::create_directories(path);
        EXPECT_EQ(::chown(path.c_str(), writable ? writerUid() : ::geteuid(), -1), 0);
        EXPECT_EQ(::chmod(path.c_str(), writable ? 0755 : 0555), 0);
        return path;
    }
    // A file with `bytes` and `mode`, owned by the writer (user and group) or
    // by this process.
    static void ownedFile(const fs::path& path, const std::string& bytes, bool byWriter,
                          mode_t mode) {
        writeFile(path, bytes);
        const bool nobody = byWriter && ::geteuid() == 0;
        ASSERT_EQ(
            ::chown(path.c_str(), nobody ? kNobody : ::geteuid(), nobody ? kNobody : ::getegid()),
            0)
            << std::strerror(errno);
        ASSERT_EQ(::chmod(path.c_str(), mode), 0) << std::strerror(errno);
    }

    ScratchFolder scratch_{"zorvek-file-io"};
    const fs::path dir_ = scratch_.path();
};

struct ChildWrite {
    bool written = false;
    std::string error;
};

// Runs rewriteFile(target, bytes) in a forked child, as the ordinary user of
// writerUid() when `asUser` (else as this process), with the file size limit
// at `fileSizeLimit` bytes when that is not zero, so neither the identity nor
// the limit can leak into other tests.
ChildWrite rewriteInChild(const fs::path& target, const std::string& bytes, bool asUser,
                          rlim_t fileSizeLimit = 0) {
    int pipeFds[2];
    EXPECT_EQ(::pipe(pipeFds), 0);
    const pid_t child = ::fork();
    EXPECT_GE(child, 0) << std::strerror(errno);
    if (child == 0) {
        ::close(pipeFds[0]);
        if (asUser && ::geteuid() == 0) {
            if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
                ::_exit(3);
        }
        if (asUser && ::geteuid() != writerUid()) ::_exit(3);
        if (fileSizeLimit != 0) {
            std::signal(SIGXFSZ, SIG_IGN);
            struct rlimit limit {};
            ::getrlimit(RLIMIT_FSIZE, &limit);
            limit.rlim_cur = fileSizeLimit;
            if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(3);
        }
        std::string error;
        const bool written = rewriteDescribed(target, bytes, &error);
        (void)!::write(pipeFds[1], error.data(), error.size());
        ::_exit(written ? 0 : 1);
    }
    ::close(pipeFds[1]);
    ChildWrite result;
    char buffer[256];
    for (ssize_t got; (got = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        result.error.append(buffer, static_cast<size_t>(got));
    ::close(pipeFds[0]);
    int status = 0;
    EXPECT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) <= 1)
        << "the writing child could not start: " << status;
    result.written = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return result;
}

// Sets the process umask for the life of the object.
class ScopedUmask {
public:
    explicit ScopedUmask(mode_t mask) : old_(::umask(mask)) {}
    ~ScopedUmask() { ::umask(old_); }

private:
    mode_t old_;
};

TEST_F(FileIoTest, SettingsPathIsZorvekIniInTheDirectory) {
    EXPECT_EQ(settingsPathIn("/opt/zorvek"), fs::path("/opt/zorvek/Zorvek.ini"));
    EXPECT_EQ(settingsPathIn(dir_).parent_path(), dir_);
    EXPECT_EQ(settingsPathIn(dir_).filename(), "Zorvek.ini");
}

TEST_F(FileIoTest, ReadSmallFileReadsRegularFilesWithinTheLimit) {
    const fs::path path = dir_ / "f";
    const struct {
        std::string content;
        std::size_t maxBytes;
        bool readable;
    } cases[] = {
        {"", 0, true},
        {"", 10, true},
        {"abc", 3, true},
        {"abc", 2, false},
        {std::string("a\0b\r\n", 5), 64, true},
        {std::string(kSettingsFileMaxBytes, 'x'), kSettingsFileMaxBytes, true},
        {std::string(kSettingsFileMaxBytes + 1, 'x'), kSettingsFileMaxBytes, false},
    };
    for (const auto& c : cases) {
        writeFile(path, c.content);
        const auto content = readSmallFile(path, c.maxBytes);
        ASSERT_EQ(content.has_value(), c.readable)
            << c.content.size() << " bytes, max " << c.maxBytes;
        if (content) {
            EXPECT_EQ(*content, c.content);
        }
    }
}

TEST_F(FileIoTest, ReadSmallFileRefusesWhatIsNotARegularFile) {
    const fs::path fifo = dir_ / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0) << std::strerror(errno);
    fs::create_directory(dir_ / "sub");

    EXPECT_EQ(readSmallFile(dir_ / "missing", 100), std::nullopt);
    EXPECT_EQ(readSmallFile(dir_ / "sub", 100), std::nullopt);
    EXPECT_EQ(readSmallFile("/dev/zero", 100), std::nullopt);

    // A FIFO without a writer must be refused at once, not waited on.
    auto pending = std::async(std::launch::async, [&] { return readSmallFile(fifo, 100); });
    if (pending.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        ADD_FAILURE() << "reading a FIFO waited for a writer";
        ::close(::open(fifo.c_str(), O_WRONLY));  // let the reader go
    }
    EXPECT_EQ(pending.get(), std::nullopt);
}

TEST_F(FileIoTest, WriteCreatesAFileWithUmaskPermissions) {
    const struct {
        mode_t umask;
        mode_t expected;
    } cases[] = {{022, 0644}, {077, 0600}, {0, 0644}};
    for (const auto& c : cases) {
        const fs::path target = dir_ / "Zorvek.ini";
        fs::remove(target);
        {
            ScopedUmask mask(c.umask);
            std::string error;
            ASSERT_TRUE(rewriteDescribed(target, "new\r\n", &error)) << error;
        }
        EXPECT_EQ(readFile(target), "new\r\n");
        EXPECT_EQ(modeOf(target), c.expected) << std::oct << c.umask;
        EXPECT_TRUE(leftovers(dir_).empty());
    }
}

// The new file keeps the old owner, group and permission bits, less setuid,
// setgid and sticky (here saved by root where it can give the file back to
// its owner; otherwise by the owner).
TEST_F(FileIoTest, WriteReplacesByRenameAndKeepsPermissionBits) {
    const fs::path target = settingsPathIn(dir_);
    ownedFile(target, "old content that is longer than the new one\r\n", true, 07640);
    ASSERT_EQ(modeOf(target), 07640u);
    const ino_t oldInode = inodeOf(target);

    std::string error;
    ASSERT_TRUE(rewriteDescribed(target, "short\r\n", &error)) << error;
    EXPECT_EQ(readFile(target), "short\r\n");
    EXPECT_EQ(modeOf(target), 0640u);
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, writerUid());
    // A new inode shows the file was replaced whole, not rewritten in place
    // where a reader could see it half written.
    EXPECT_NE(inodeOf(target), oldInode);
    EXPECT_TRUE(leftovers(dir_).empty());

    // Empty content and a relative-looking name in the same directory work too.
    ASSERT_TRUE(rewriteDescribed(target, "", &error)) << error;
    EXPECT_EQ(readFile(target), "");
    EXPECT_TRUE(leftovers(dir_).empty());
}

TEST_F(FileIoTest, WriteFailuresReportAndLeaveNothingBehind) {
    const fs::path plainFile = dir_ / "plain";
    writeFile(plainFile, "x");
    const fs::path busyDir = dir_ / "Zorvek.ini";  // a non-empty directory in the way
    fs::create_directories(busyDir / "inside");

    // Each of these fails for root as well: permission bits would not.
    const struct {
        const char* name;
        fs::path target;
        std::string reason;
    } cases[] = {
        {"directory missing", dir_ / "missing" / "Zorvek.ini", "No such file or directory"},
        {"parent is a file", plainFile / "Zorvek.ini", "Not a directory"},
        {"target is a directory", busyDir, "ファイルではありません"},
        {"no file name", dir_ / "", "ファイル名がありません"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(rewriteDescribed(c.target, "data", &error)) << c.name;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.name << ": " << error;
        EXPECT_TRUE(leftovers(dir_).empty()) << c.name;
        EXPECT_FALSE(rewriteDescribed(c.target, "data", nullptr)) << c.name;
    }
    EXPECT_TRUE(fs::is_directory(busyDir / "inside"));
    EXPECT_EQ(readFile(plainFile), "x");
}

// A write that fails part-way (here: the file size limit, which binds root
// too) must leave the old file byte for byte: replaced by rename, the
// temporary file goes; rewritten in place, the old content is written back.
TEST_F(FileIoTest, FailedWriteKeepsTheOldFileWhole) {
    const std::string old = "\"old\",\"5\",\"23:00\",\"07:59\",1,0,0\r\n";
    const std::string big(64 * 1024, 'n');
    const struct {
        const char* name;
        bool folderWritable;
        const char* reason;
    } cases[] = {
        {"by rename", true, "元のファイルはそのままです"},
        {"in place", false, "元の内容に戻しました"},
    };
    for (const auto& c : cases) {
        const fs::path folder = this->folder(c.name, c.folderWritable);
        const fs::path target = settingsPathIn(folder);
        ownedFile(target, old, true, 0600);
        const ino_t inode = inodeOf(target);

        const ChildWrite result = rewriteInChild(target, big, true, 1024);
        EXPECT_FALSE(result.written) << c.name;
        EXPECT_NE(result.error.find("File too large"), std::string::npos) << result.error;
        EXPECT_NE(result.error.find(c.reason), std::string::npos) << result.error;
        EXPECT_EQ(readFile(target), old) << c.name;
        EXPECT_EQ(inodeOf(target), inode) << c.name;
        EXPECT_EQ(modeOf(target), 0600u) << c.name;
        EXPECT_TRUE(leftovers(folder).empty()) << c.name;
    }
}

// A shared installation: the folder is read-only to the user, but the user's
// own Zorvek.ini is writable. It is rewritten in place, whole and cut to the
// new length.
TEST_F(FileIoTest, WritesInPlaceWhereOnlyTheFileIsWritable) {
    const fs::path folder = this->folder("shared", false);
    const fs::path target = settingsPathIn(folder);
    ownedFile(target, "an old line that is longer than the new one\r\n", true, 07640);
    const ino_t inode = inodeOf(target);

    const ChildWrite result = rewriteInChild(target, "new\r\n", true);
    ASSERT_TRUE(result.written) << result.error;
    EXPECT_EQ(readFile(target), "new\r\n");
    EXPECT_EQ(inodeOf(target), inode);
    EXPECT_EQ(modeOf(target), 0640u);  // less setuid, setgid and sticky here too
    EXPECT_TRUE(leftovers(folder).empty());
}

// A writable folder is no licence to replace a file the user may not write.
TEST_F(FileIoTest, LeavesAFileTheUserMayNotWriteUntouched) {
    const struct {
        const char* name;
        mode_t mode;
        bool ownedByWriter;
    } cases[] = {
        {"own file, mode 0444", 0444, true},
        {"another user's file, mode 0644", 0644, false},
    };
    for (const auto& c : cases) {
        if (!c.ownedByWriter && ::geteuid() != 0) {
            std::cout << "skipped '" << c.name << "': making another user's file needs root\n";
            continue;
        }
        const fs::path folder = this->folder(c.name, true);
        const fs::path target = settingsPathIn(folder);
        const std::string old = "\"old\",\"5\",\"23:00\",\"07:59\",1,0,0\r\n";
        ownedFile(target, old, c.ownedByWriter, c.mode);
        const ino_t inode = inodeOf(target);

        const ChildWrite result = rewriteInChild(target, "new\r\n", true);
        EXPECT_FALSE(result.written) << c.name;
        EXPECT_NE(result.error.find("権限がありません"), std::string::npos) << result.error;
        EXPECT_EQ(readFile(target), old) << c.name;
        EXPECT_EQ(inodeOf(target), inode) << c.name;
        EXPECT_EQ(modeOf(target), c.mode) << c.name;
        EXPECT_TRUE(leftovers(folder).empty()) << c.name;
    }
}

// A linked Zorvek.ini keeps its link; the file it names gets the new content,
// by rename in that file's folder where the user may write there, else in
// place.
TEST_F(FileIoTest, ALinkStaysAndTheFileItNamesIsRewritten) {
    const struct {
        const char* name;
        bool targetFolderWritable;
        bool replaced;  // a new inode: renamed into place
    } cases[] = {
        {"link-writable", true, true},
        {"link-readonly", false, false},
    };
    for (const auto& c : cases) {
        const fs::path program = folder(std::string(c.name) + "/program", true);
        const fs::path config = folder(std::string(c.name) + "/config", c.targetFolderWritable);
        const fs::path real = config / "zorvek.conf";
        ownedFile(real, "old\r\n", true, 0644);
        const ino_t inode = inodeOf(real);
        const fs::path link = settingsPathIn(program);
        fs::create_symlink("../config/zorvek.conf", link);

        const ChildWrite result = rewriteInChild(link, "new\r\n", true);
        ASSERT_TRUE(result.written) << c.name << ": " << result.error;
        EXPECT_TRUE(fs::is_symlink(link)) << c.name;
        EXPECT_EQ(fs::read_symlink(link), "../config/zorvek.conf") << c.name;
        EXPECT_EQ(readFile(real), "new\r\n") << c.name;
        EXPECT_EQ(inodeOf(real) != inode, c.replaced) << c.name;
        EXPECT_TRUE(leftovers(program).empty()) << c.name;
        for (const auto& entry : fs::directory_iterator(config)) {
            EXPECT_EQ(entry.path().filename(), "zorvek.conf") << c.name << ": left behind";
        }
    }
}

// Another user's link in a shared sticky folder (as /tmp) is not followed,
// as the kernel's fs.protected_symlinks rule has it, whatever the system's
// setting: the user's Zorvek.ini names a file there that does not exist yet,
// another user puts a link under that name to a file only the user can reach.
// The save is refused naming the link, the file stays as it was, and the
// start-up clean-up leaves that file's folder alone. The user's own link there
// is followed.
TEST_F(FileIoTest, AnotherUsersLinkInAStickyFolderIsNotFollowed) {
    if (::geteuid() != 0) GTEST_SKIP() << "other users' links need root";
    constexpr uid_t kAttacker = kNobody - 1;
    const fs::path shared = dir_ / "shared";
    fs::create_directory(shared);
    ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
    const fs::path program = folder("program", true);
    const fs::path own = folder("own", true);
    ASSERT_EQ(::chmod(own.c_str(), 0700), 0);
    const fs::path secret = own / "secret";
    ownedFile(secret, "keep\n", true, 0600);
    const fs::path leftover = own / ".secret.Ab3xYz";
    ownedFile(leftover, "x", true, 0600);
    const std::time_t old = std::time(nullptr) - 600;
    const struct timespec times[2] = {{old, 0}, {old, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, leftover.c_str(), times, 0), 0);

    const fs::path target = settingsPathIn(program);
    fs::create_symlink(shared / "zorvek.ini", target);
    ASSERT_EQ(::lchown(target.c_str(), kNobody, kNobody), 0);
    const fs::path planted = shared / "zorvek.ini";
    fs::create_symlink(secret, planted);
    ASSERT_EQ(::lchown(planted.c_str(), kAttacker, kAttacker), 0);

    const ChildWrite result = rewriteInChild(target, "new\r\n", true);
    EXPECT_FALSE(result.written);
    EXPECT_NE(result.error.find(planted.string()), std::string::npos) << result.error;
    EXPECT_EQ(readFile(secret), "keep\n");
    EXPECT_TRUE(leftovers(shared).empty());

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
            ::_exit(3);
        removeInterruptedSaves(program);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_TRUE(fs::exists(leftover));

    ASSERT_EQ(::lchown(planted.c_str(), kNobody, kNobody), 0);
    const ChildWrite ownLink = rewriteInChild(target, "new\r\n", true);
    ASSERT_TRUE(ownLink.written) << ownLink.error;
    EXPECT_EQ(readFile(secret), "new\r\n");
}

// Start-up removes what killed saves left behind, and nothing else.
TEST_F(FileIoTest, LeftoverTemporaryFilesAreRemovedByTheRules) {
    enum class Kind { File, Link, Folder };
    const struct {
        const char* path;  // under the test folder; Zorvek.ini links to conf/zorvek.conf
        Kind kind;
        int age;  // seconds since the last change; negative: in the future
        bool otherUser;
        bool removed;
    } cases[] = {
        {".Zorvek.ini.Ab3xYz", Kind::File, 120, false, true},
        {".Zorvek.ini.000000", Kind::File, 61, false, true},
        {".Zorvek.ini.Ab3xY9", Kind::File, 30, false, false},    // may still be written
        {".Zorvek.ini.Ab3xY8", Kind::File, -600, false, false},  // clock skew: not old
        {".Zorvek.ini.Ab3xY7", Kind::Link, 120, false, false},
        {".Zorvek.ini.Ab3xY6", Kind::Folder, 120, false, false},
        {".Zorvek.ini.Ab3xY5", Kind::File, 120, true, false},
        {".Zorvek.ini.Ab3xY", Kind::File, 120, false, false},
        {".Zorvek.ini.Ab3xYz1", Kind::File, 120, false, false},
        {".Zorvek.ini.Ab-xYz", Kind::File, 120, false, false},
        {"Zorvek.ini.Ab3xYz", Kind::File, 120, false, false},
        {".Zorvek.ini", Kind::File, 120, false, false},
        {".other.ini.Ab3xYz", Kind::File, 120, false, false},
        {"conf/.zorvek.conf.Ab3xYz", Kind::File, 120, false, true},  // beside the link's file
        {"conf/.Zorvek.ini.Ab3xYz", Kind::File, 120, false, false},
        {"conf/zorvek.conf", Kind::File, 120, false, false},
    };
    fs::create_directory(dir_ / "conf");
    fs::create_symlink("conf/zorvek.conf", settingsPathIn(dir_));
    writeFile(dir_ / "victim", "keep");
    const std::time_t now = std::time(nullptr);
    for (const auto& c : cases) {
        if (c.otherUser && ::geteuid() != 0) continue;
        const fs::path path = dir_ / c.path;
        switch (c.kind) {
            case Kind::File: writeFile(path, "x"); break;
            case Kind::Link: fs::create_symlink(dir_ / "victim", path); break;
            case Kind::Folder: fs::create_directory(path); break;
        }
        if (c.otherUser) {
            ASSERT_EQ(::lchown(path.c_str(), kNobody, kNobody), 0);
        }
        const struct timespec times[2] = {{now - c.age, 0}, {now - c.age, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << c.path;
    }

    removeInterruptedSaves(settingsPathIn(dir_));

    for (const auto& c : cases) {
        if (c.otherUser && ::geteuid() != 0) continue;
        EXPECT_EQ(!fs::exists(fs::symlink_status(dir_ / c.path)), c.removed) << c.path;
    }
    EXPECT_EQ(readFile(dir_ / "victim"), "keep");
    EXPECT_TRUE(fs::is_symlink(settingsPathIn(dir_)));
}

TEST_F(FileIoTest, SettingsSurviveWriteAndLoad) {
    SettingsControls saved;
    saved.text = {"\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88.example", "5", "23:00", "07:59"};
    saved.check1 = 1;
    saved.seconds = true;
    const fs::path path = settingsPathIn(dir_);
    std::string error;
    ASSERT_TRUE(rewriteDescribed(path, formatSettingsFile(lineFromControls(saved)), &error))
        << error;

    const auto bytes = readSmallFile(path, kSettingsFileMaxBytes);
    ASSERT_TRUE(bytes.has_value());
    SettingsControls loaded;
    SettingsRecord record;
    EXPECT_EQ(applySettingsFile(*bytes, loaded, record), LoadStage::Complete);
    EXPECT_EQ(loaded, saved);
    EXPECT_EQ(record, (SettingsRecord{saved.text[0], 5, "23:00", "07:59", 1, 0}));
}

// The longest host the field takes from typing, in characters that take two
// bytes each, saves and loads back whole.
TEST_F(FileIoTest, LongestTypedHostSavesAndLoadsBack) {
    constexpr int kHostFieldLimit = 32767;  // the host field's typing limit
    SettingsControls saved;
    saved.text[0].reserve(3 * kHostFieldLimit);
    for (int i = 0; i < kHostFieldLimit; ++i) saved.text[0] += "\xE3\x81\x82";  // あ
    saved.text[1] = "999";
    saved.text[2] = "23:59";
    saved.text[3] = "23:59";
    saved.check1 = saved.check2 = 1;
    saved.seconds = true;
    SettingsRecord record;
    const SaveOutcome result = saveDescribed(settingsPathIn(dir_), saved, record);
    ASSERT_TRUE(result.written) << result.error;
    EXPECT_EQ(fs::file_size(result.path), 2u * kHostFieldLimit + 3 + 5 + 5 + 19);

    SettingsControls loaded;
    SettingsRecord again;
    EXPECT_EQ(loadSettings(settingsPathIn(dir_), loaded, again), LoadStage::Complete);
    EXPECT_EQ(loaded, saved);
    EXPECT_EQ(again, record);
}

// A file at the size limit that loads saves back as a file that loads again,
// though saving quotes its texts and ends it in CR LF; one whose texts would
// save back larger than the limit is not loaded.
TEST_F(FileIoTest, FileAtTheLoadLimitSavesBackLoadable) {
    // Unquoted texts and an LF grow by 9 bytes on saving (8 quotes and a CR);
    // the padding after the seventh item, which is not kept, makes up for it.
    const std::string items = ",5,23:00,07:59,1,0,0\n";
    const struct {
        const char* name;
        std::size_t padding;
        bool loads;
    } cases[] = {
        {"saves back at the limit", 9, true},
        {"would save back one byte over", 8, false},
    };
    for (const auto& c : cases) {
        const std::string host(kSettingsFileMaxBytes - items.size() - c.padding, 'h');
        const std::string file = host + items + std::string(c.padding, '#');
        ASSERT_EQ(file.size(), kSettingsFileMaxBytes) << c.name;
        writeFile(settingsPathIn(dir_), file);

        SettingsControls controls;
        SettingsRecord record;
        const LoadStage stage = loadSettings(settingsPathIn(dir_), controls, record);
        if (!c.loads) {
            EXPECT_EQ(stage, LoadStage::NothingApplied) << c.name;
            EXPECT_EQ(controls, SettingsControls{}) << c.name;
            continue;
        }
        ASSERT_EQ(stage, LoadStage::Complete) << c.name;
        const SaveOutcome result = saveDescribed(settingsPathIn(dir_), controls, record);
        ASSERT_TRUE(result.written) << c.name << ": " << result.error;
        EXPECT_EQ(fs::file_size(result.path), kSettingsFileMaxBytes) << c.name;
        SettingsControls again;
        SettingsRecord recordAgain;
        EXPECT_EQ(loadSettings(settingsPathIn(dir_), again, recordAgain), LoadStage::Complete)
            << c.name;
        EXPECT_EQ(again, controls) << c.name;
    }
}

// Texts too long for a file that loads again (possible only once a long text
// from a file has widened a field) are refused: the old file stays.
TEST_F(FileIoTest, SaveRefusesSettingsTooLongToLoadAgain) {
    const std::string old = "\"old\",\"5\",\"23:00\",\"07:59\",1,0,0\r\n";
    writeFile(settingsPathIn(dir_), old);
    SettingsControls controls;
    controls.text = {std::string(kSettingsFileMaxBytes - 19, 'h'), "5", "", ""};  // 1 byte over
    SettingsRecord record;
    const SaveOutcome result = saveDescribed(settingsPathIn(dir_), controls, record);
    EXPECT_FALSE(result.written);
    EXPECT_NE(result.error.find("長すぎます"), std::string::npos) << result.error;
    EXPECT_EQ(readFile(settingsPathIn(dir_)), old);
    EXPECT_TRUE(leftovers(dir_).empty());
}

}  // namespace
}  // namespace zorvek::settings
