// SPDX-License-Identifier: MIT
#include "settings/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <exception>
#include <fstream>
#include <system_error>

#include "settings/settings_file.h"
#include "support/unique_fd.h"

namespace zorvek {
namespace {

namespace fs = std::filesystem;

// Links followed before giving up, as many as the kernel follows.
constexpr int kMaxLinks = 40;

// An old file larger than this is rewritten in place without a copy to put
// back on failure (it was too large to be loaded anyway).
constexpr std::size_t kBackupMaxBytes = 1024 * 1024;

// Removes the temporary file unless it has been renamed into place.
class TempFileGuard {
public:
    explicit TempFileGuard(const std::string& path) : path_(path) {}
    ~TempFileGuard() {
        if (!committed_) ::unlink(path_.c_str());
    }
    TempFileGuard(const TempFileGuard&) = delete;
    TempFileGuard& operator=(const TempFileGuard&) = delete;

    void commit() { committed_ = true; }

private:
    const std::string& path_;
    bool committed_ = false;
};

void setError(std::string* error, const std::string& text) noexcept {
    if (!error) return;
    try {
        *error = text;
    } catch (...) {
        // Out of memory while describing the failure: the false result stands.
    }
}

// The system's own words for an error number, in the user's language.
std::string reason(int err) { return std::system_category().message(err); }

bool isPermissionError(int err) { return err == EACCES || err == EPERM; }

// The process umask, read without changing it (calling umask() to read it
// would briefly change it for every thread). 022 when it cannot be read.
mode_t currentUmask() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0) {
            try {
                return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8)) & 0777;
            } catch (...) {
                break;
            }
        }
    }
    return 022;
}

bool writeAllAt(int fd, std::string_view bytes, off_t offset) {
    while (!bytes.empty()) {
        const ssize_t written = ::pwrite(fd, bytes.data(), bytes.size(), offset);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(written));
        offset += written;
    }
    return true;
}

bool readAllAt(int fd, std::size_t size, std::string& out) {
    out.resize(size);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got = ::pread(fd, out.data() + done, size - done, static_cast<off_t>(done));
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (got == 0) return false;  // shorter than fstat said: no trustworthy copy
        done += static_cast<size_t>(got);
    }
    return true;
}

fs::path folderOf(const fs::path& file) {
    const fs::path dir = file.parent_path();
    return dir.empty() ? fs::path(".") : dir;
}

// The file that `path` finally names, following symbolic links (it need not
// exist yet: a link may name a file still to be made). Nothing, with `err`
// set, when a link cannot be read or there are too many.
std::optional<fs::path> followLinks(fs::path path, int& err) {
    for (int links = 0; links <= kMaxLinks; ++links) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) {
            if (errno == ENOENT) return path;
            err = errno;
            return std::nullopt;
        }
        if (!S_ISLNK(st.st_mode)) return path;
        char buffer[PATH_MAX];
        const ssize_t length = ::readlink(path.c_str(), buffer, sizeof buffer);
        if (length < 0 || static_cast<size_t>(length) >= sizeof buffer) {
            err = length < 0 ? errno : ENAMETOOLONG;
            return std::nullopt;
        }
        const fs::path next(std::string(buffer, static_cast<size_t>(length)));
        path = next.is_absolute() ? next : folderOf(path) / next;
    }
    err = ELOOP;
    return std::nullopt;
}

// The file being replaced, opened for writing, with its state when opened.
struct OldFile {
    UniqueFd fd;
    struct stat st {};
    bool readable = false;
};

enum class Outcome { Written, Failed, NeedsInPlace };

// Writes `bytes` to a new temporary file beside `file` and renames it over
// `file`. NeedsInPlace, with nothing left behind, when the folder does not
// take new files from this user or the old file's owner and group cannot be
// given to the new one.
Outcome replaceByRename(const fs::path& file, const OldFile* old, std::string_view bytes,
                        std::string* error) {
    const fs::path dir = folderOf(file);
    std::string tempPath = (dir / ("." + file.filename().string() + ".XXXXXX")).string();
    UniqueFd fd(::mkstemp(tempPath.data()));
    if (fd.get() < 0) {
        const int err = errno;
        if (old && (isPermissionError(err) || err == EROFS)) return Outcome::NeedsInPlace;
        setError(error,
                 "フォルダ " + dir.string() + " にファイルを作れません（" + reason(err) + "）。");
        return Outcome::Failed;
    }
    TempFileGuard temp(tempPath);

    mode_t mode = 0644 & ~currentUmask();
    if (old) {
        // setuid, setgid and sticky are not carried over: a settings file has
        // no use for them, and a rewritten file must not gain power it only
        // had by accident.
        mode = old->st.st_mode & 0777;
        struct stat made {};
        if (::fstat(fd.get(), &made) != 0) return Outcome::NeedsInPlace;
        if (made.st_uid != old->st.st_uid || made.st_gid != old->st.st_gid) {
            if (::fchown(fd.get(), old->st.st_uid, old->st.st_gid) != 0)
                return Outcome::NeedsInPlace;
        }
    }
    if (::fchmod(fd.get(), mode) != 0) {
        setError(error, "新しいファイルの権限を設定できません（" + reason(errno) + "）。");
        return Outcome::Failed;
    }
    if (!writeAllAt(fd.get(), bytes, 0) || ::fsync(fd.get()) != 0 || !fd.close()) {
        setError(error, "書き込めませんでした（" + reason(errno) + "）。" +
                            (old ? "元のファイルはそのままです。" : ""));
        return Outcome::Failed;
    }
    if (::rename(tempPath.c_str(), file.c_str()) != 0) {
        setError(error, "ファイルを置き換えられません（" + reason(errno) + "）。");
        return Outcome::Failed;
    }
    temp.commit();

    // Make the rename itself durable. The file is already in place, so a
    // failure here is not reported as a failed write.
    UniqueFd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dirFd.get() >= 0) ::fsync(dirFd.get());
    return Outcome::Written;
}

// Rewrites the open file from its first byte: the whole new content, then cut
// to its length, then flushed. On failure the old content is put back when it
// could be read first.
bool rewriteInPlace(OldFile& old, std::string_view bytes, std::string* error) {
    std::string backup;
    const bool haveBackup = old.readable && old.st.st_size >= 0 &&
                            static_cast<std::uintmax_t>(old.st.st_size) <= kBackupMaxBytes &&
                            readAllAt(old.fd.get(), static_cast<size_t>(old.st.st_size), backup);
    const int fd = old.fd.get();
    if (!writeAllAt(fd, bytes, 0) || ::ftruncate(fd, static_cast<off_t>(bytes.size())) != 0 ||
        ::fsync(fd) != 0) {
        const int err = errno;
        const bool restored = haveBackup && writeAllAt(fd, backup, 0) &&
                              ::ftruncate(fd, static_cast<off_t>(backup.size())) == 0 &&
                              ::fsync(fd) == 0;
        setError(error, "書き込めませんでした（" + reason(err) + "）。" +
                            (restored ? "元の内容に戻しました。"
                                      : "元の内容に戻せず、ファイルが壊れているかもしれません。"));
        return false;
    }
    // As with a replaced file, setuid, setgid and sticky are dropped (where
    // the user owns the file; for anyone else the system clears the first two
    // on writing).
    if ((old.st.st_mode & 07000) != 0) (void)::fchmod(fd, old.st.st_mode & 0777);
    if (!old.fd.close()) {
        setError(error, "書き込めませんでした（" + reason(errno) + "）。");
        return false;
    }
    return true;
}

// True when `name` is ".<base>.XXXXXX", the name mkstemp gives our temporary
// files, with six letters or digits.
bool isTemporaryName(std::string_view name, std::string_view base) {
    constexpr size_t kRandom = 6;
    if (name.size() != base.size() + 2 + kRandom) return false;
    if (name[0] != '.' || name.substr(1, base.size()) != base || name[base.size() + 1] != '.')
        return false;
    return std::all_of(name.end() - kRandom, name.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    });
}

void removeLeftoversBeside(const fs::path& file) {
    const fs::path dir = folderOf(file);
    const std::string base = file.filename().string();
    UniqueFd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dirFd.get() < 0) return;
    const std::time_t now = std::time(nullptr);
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (!isTemporaryName(name, base)) continue;
        // Judged by the entry itself, through the folder already opened, so a
        // link is seen as a link and never followed.
        struct stat st {};
        if (::fstatat(dirFd.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) continue;
        if (now - st.st_mtime < kLeftoverAge.count()) continue;
        ::unlinkat(dirFd.get(), name.c_str(), 0);
    }
}

}  // namespace

std::optional<std::string> readSmallFile(const std::filesystem::path& path, std::size_t maxBytes) {
    try {
        // O_NONBLOCK keeps open() from waiting for a writer when the path is a
        // FIFO; it has no effect on regular files.
        UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
        if (fd.get() < 0) return std::nullopt;
        struct stat st {};
        if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
        if (st.st_size < 0 || static_cast<std::uintmax_t>(st.st_size) > maxBytes)
            return std::nullopt;

        // The size can change between fstat and read, so the reads themselves
        // are capped too: one byte past the limit is enough to know it is
        // too long.
        const std::size_t limit = maxBytes == SIZE_MAX ? maxBytes : maxBytes + 1;
        std::string content;
        char buffer[16 * 1024];
        while (content.size() < limit) {
            const std::size_t want = std::min(sizeof buffer, limit - content.size());
            const ssize_t got = ::read(fd.get(), buffer, want);
            if (got < 0) {
                if (errno == EINTR) continue;
                return std::nullopt;
            }
            if (got == 0) break;
            content.append(buffer, static_cast<size_t>(got));
        }
        if (content.size() > maxBytes) return std::nullopt;
        return content;
    } catch (...) {
        return std::nullopt;
    }
}

bool rewriteFile(const std::filesystem::path& target, std::string_view bytes, std::string* error) {
    try {
        const fs::path name = target.filename();
        if (name.empty() || name == "." || name == "..") {
            setError(error, "ファイル名がありません: " + target.string());
            return false;
        }
        int err = 0;
        const std::optional<fs::path> file = followLinks(target, err);
        if (!file) {
            setError(error, "ファイルを調べられません（" + reason(err) + "）。");
            return false;
        }

        OldFile old;
        bool exists = false;
        if (::lstat(file->c_str(), &old.st) == 0) {
            exists = true;
            // Checked before opening, so that opening cannot disturb a device
            // or wait on a FIFO.
            if (!S_ISREG(old.st.st_mode)) {
                setError(error, file->string() + " はファイルではありません（フォルダなど）。");
                return false;
            }
            constexpr int kFlags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW;
            old.fd = UniqueFd(::open(file->c_str(), O_RDWR | kFlags));
            old.readable = old.fd.get() >= 0;
            if (!old.readable && errno == EACCES)
                old.fd = UniqueFd(::open(file->c_str(), O_WRONLY | kFlags));
            if (old.fd.get() < 0) {
                err = errno;
                setError(error,
                         (isPermissionError(err)
                              ? std::string("このファイルを書き換える権限がありません。")
                              : "このファイルを書き換えられません（" + reason(err) + "）。") +
                             "ファイルはそのままです。");
                return false;
            }
            if (::fstat(old.fd.get(), &old.st) != 0 || !S_ISREG(old.st.st_mode)) {
                setError(error, file->string() + " はファイルではありません。");
                return false;
            }
        } else if (errno != ENOENT) {
            err = errno;
            setError(error, "ファイルを調べられません（" + reason(err) + "）。");
            return false;
        }

        // A file with other hard links is rewritten in place, as a renamed
        // file would leave the other names with the old content.
        if (!exists || old.st.st_nlink <= 1) {
            const Outcome outcome = replaceByRename(*file, exists ? &old : nullptr, bytes, error);
            if (outcome != Outcome::NeedsInPlace) return outcome == Outcome::Written;
        }
        return rewriteInPlace(old, bytes, error);
    } catch (const std::exception& e) {
        setError(error, std::string("書き込めませんでした（") + e.what() + "）。");
        return false;
    } catch (...) {
        setError(error, "書き込めませんでした。");
        return false;
    }
}

void removeLeftoverTemporaryFiles(const std::filesystem::path& target) {
    try {
        removeLeftoversBeside(target);
        int err = 0;
        const std::optional<fs::path> file = followLinks(target, err);
        if (file && *file != target) removeLeftoversBeside(*file);
    } catch (...) {
        // Leftovers are harmless; a failed clean-up is tried again next start.
    }
}

std::filesystem::path settingsPathIn(const std::filesystem::path& dir) {
    return dir / kSettingsFileName;
}

}  // namespace zorvek
