// SPDX-License-Identifier: MIT
#include "settings/file_io.h"

#include <fcntl.h>
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
#include <fstream>
#include <future>
#include <iterator>
#include <string>
#include <vector>

#include "settings/settings_file.h"
#include "settings/settings_store.h"

namespace zorvek {
namespace {

namespace fs = std::filesystem;

class FileIoTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "zorvek-file-io-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr) << std::strerror(errno);
        dir_ = pattern;
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

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

    fs::path dir_;
};

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
            ASSERT_TRUE(writeFileAtomically(target, "new\r\n", &error)) << error;
        }
        EXPECT_EQ(readFile(target), "new\r\n");
        EXPECT_EQ(modeOf(target), c.expected) << std::oct << c.umask;
        EXPECT_TRUE(leftovers(dir_).empty());
    }
}

TEST_F(FileIoTest, WriteReplacesByRenameAndKeepsPermissionBits) {
    const fs::path target = settingsPathIn(dir_);
    writeFile(target, "old content that is longer than the new one\r\n");
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
    const ino_t oldInode = inodeOf(target);

    std::string error;
    ASSERT_TRUE(writeFileAtomically(target, "short\r\n", &error)) << error;
    EXPECT_EQ(readFile(target), "short\r\n");
    EXPECT_EQ(modeOf(target), 0640u);
    // A new inode shows the file was replaced whole, not rewritten in place
    // where a reader could see it half written.
    EXPECT_NE(inodeOf(target), oldInode);
    EXPECT_TRUE(leftovers(dir_).empty());

    // Empty content and a relative-looking name in the same directory work too.
    ASSERT_TRUE(writeFileAtomically(target, "", &error)) << error;
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
        {"target is a directory", busyDir, "Is a directory"},
        {"no file name", dir_ / "", "not a file name"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(writeFileAtomically(c.target, "data", &error)) << c.name;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.name << ": " << error;
        EXPECT_TRUE(leftovers(dir_).empty()) << c.name;
        EXPECT_FALSE(writeFileAtomically(c.target, "data", nullptr)) << c.name;
    }
    EXPECT_TRUE(fs::is_directory(busyDir / "inside"));
    EXPECT_EQ(readFile(plainFile), "x");
}

// A write that fails part-way (here: the file size limit, which binds root
// too) must leave the old file byte for byte and remove the temporary file.
// Run in a child process so the limit cannot leak into other tests.
TEST_F(FileIoTest, FailedWriteKeepsTheOldFileWhole) {
    const fs::path target = settingsPathIn(dir_);
    const std::string old = "\"old\",\"5\",\"23:00\",\"07:59\",1,0,0\r\n";
    writeFile(target, old);
    ASSERT_EQ(::chmod(target.c_str(), 0600), 0);
    const std::string big(64 * 1024, 'n');

    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0) << std::strerror(errno);
    if (child == 0) {
        ::close(pipeFds[0]);
        std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit {};
        ::getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = 1024;
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(3);
        std::string error;
        const bool written = writeFileAtomically(target, big, &error);
        (void)!::write(pipeFds[1], error.data(), error.size());
        ::_exit(written ? 1 : 0);
    }
    ::close(pipeFds[1]);
    std::string error;
    char buffer[256];
    for (ssize_t got; (got = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        error.append(buffer, got);
    ::close(pipeFds[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    ASSERT_EQ(WEXITSTATUS(status), 0) << "the write did not fail: " << error;

    EXPECT_NE(error.find("File too large"), std::string::npos) << error;
    EXPECT_EQ(readFile(target), old);
    EXPECT_EQ(modeOf(target), 0600u);
    EXPECT_TRUE(leftovers(dir_).empty());
}

TEST_F(FileIoTest, SettingsSurviveWriteAndLoad) {
    SettingsControls saved;
    saved.text = {"\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88.example", "5", "23:00", "07:59"};
    saved.check1 = 1;
    saved.seconds = true;
    const fs::path path = settingsPathIn(dir_);
    std::string error;
    ASSERT_TRUE(writeFileAtomically(path, formatSettingsFile(lineFromControls(saved)), &error))
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
    const SaveResult result = saveSettings(dir_, saved, record);
    ASSERT_TRUE(result.written) << result.error;
    EXPECT_EQ(fs::file_size(result.path), 2u * kHostFieldLimit + 3 + 5 + 5 + 19);

    SettingsControls loaded;
    SettingsRecord again;
    EXPECT_EQ(loadSettings(dir_, loaded, again), LoadStage::Complete);
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
        const LoadStage stage = loadSettings(dir_, controls, record);
        if (!c.loads) {
            EXPECT_EQ(stage, LoadStage::NothingApplied) << c.name;
            EXPECT_EQ(controls, SettingsControls{}) << c.name;
            continue;
        }
        ASSERT_EQ(stage, LoadStage::Complete) << c.name;
        const SaveResult result = saveSettings(dir_, controls, record);
        ASSERT_TRUE(result.written) << c.name << ": " << result.error;
        EXPECT_EQ(fs::file_size(result.path), kSettingsFileMaxBytes) << c.name;
        SettingsControls again;
        SettingsRecord recordAgain;
        EXPECT_EQ(loadSettings(dir_, again, recordAgain), LoadStage::Complete) << c.name;
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
    const SaveResult result = saveSettings(dir_, controls, record);
    EXPECT_FALSE(result.written);
    EXPECT_NE(result.error.find("長すぎます"), std::string::npos) << result.error;
    EXPECT_EQ(readFile(settingsPathIn(dir_)), old);
    EXPECT_TRUE(leftovers(dir_).empty());
}

}  // namespace
}  // namespace zorvek
