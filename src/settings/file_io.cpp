// SPDX-License-Identifier: MIT
#include "settings/file_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <deque>
#include <exception>
#include <fstream>
#include <system_error>
#include <vector>

#include "base/unique_fd.h"
#include "settings/settings_file.h"

namespace zorvek::settings {
namespace {

namespace fs = std::filesystem;

// Links followed before giving up, as many as the kernel follows.
constexpr int kMaxLinks = 40;

// An old file larger than this is rewritten in place without a copy to put
// back on failure (it was too large to be loaded anyway).
constexpr std::size_t kBackupMaxBytes = 1024 * 1024;

// Removes the temporary file from its folder unless it has been renamed into
// place.
class TempFileGuard {
public:
    TempFileGuard(int folder, const std::string& name) : folder_(folder), name_(name) {}
    ~TempFileGuard() {
        if (!committed_) ::unlinkat(folder_, name_.c_str(), 0);
    }
    TempFileGuard(const TempFileGuard&) = delete;
    TempFileGuard& operator=(const TempFileGuard&) = delete;

    void commit() { committed_ = true; }

private:
    int folder_;
    const std::string& name_;
    bool committed_ = false;
};

SaveFailure failed(SaveStep step, int err = 0, std::string path = {}) {
    return SaveFailure{step, err, std::move(path), {}};
}

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

// Where a file is: its folder, open as a path-only descriptor, and its name
// in there. Everything done to the file goes through the descriptor, so the
// folder that was checked is the folder that is used, whatever happens to the
// path in between.
struct Place {
    base::UniqueFd folder;
    std::string name;
    fs::path shown;  // the path as it was followed, for messages
};

// Why a path could not be followed to a place.
struct WalkFailure {
    int err = 0;
    fs::path refusedLink;  // set when a link in a shared sticky folder was refused
};

// The components of `path` in order, without empty ones and ".".
std::deque<std::string> componentsOf(const std::string& path) {
    std::deque<std::string> parts;
    std::size_t at = 0;
    while (at <= path.size()) {
        const std::size_t slash = std::min(path.find('/', at), path.size());
        std::string part = path.substr(at, slash - at);
        if (!part.empty() && part != ".") parts.push_back(std::move(part));
        at = slash + 1;
    }
    return parts;
}

// Whether a link may be followed out of a folder, as the kernel decides with
// fs.protected_symlinks set: in a sticky folder that everybody may write to
// (such as /tmp), only links of the user's own or of the folder's owner are
// followed, since anybody could have put any other one there. Applied here
// whatever the system's setting.
bool mayFollow(const struct stat& folder, const struct stat& link) {
    const bool shared = (folder.st_mode & S_ISVTX) != 0 && (folder.st_mode & S_IWOTH) != 0;
    return !shared || link.st_uid == ::geteuid() || link.st_uid == folder.st_uid;
}

// Walks `path` one component at a time through folder descriptors, following
// symbolic links in folders along the way and, when `followLast`, in the last
// component too (it need not exist: a link may name a file still to be made).
// Each entry is opened without following it before it is looked at, so what
// was looked at is what is used.
std::optional<Place> resolvePlace(const fs::path& path, bool followLast, WalkFailure& failure) {
    const std::string& text = path.native();
    std::deque<std::string> rest = componentsOf(text);
    const bool absolute = !text.empty() && text[0] == '/';
    base::UniqueFd dir(::open(absolute ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    fs::path shown = absolute ? fs::path("/") : fs::path();
    int links = 0;
    const auto fail = [&failure](int err) -> std::optional<Place> {
        failure.err = err;
        return std::nullopt;
    };
    if (dir.get() < 0) return fail(errno);
    if (rest.empty()) return fail(EISDIR);
    while (!rest.empty()) {
        std::string name = std::move(rest.front());
        rest.pop_front();
        const bool last = rest.empty();
        if (name == "..") {
            if (last) return fail(EISDIR);
            base::UniqueFd up(::openat(dir.get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
            if (up.get() < 0) return fail(errno);
            dir = std::move(up);
            shown /= name;
            continue;
        }
        base::UniqueFd entry(::openat(dir.get(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        struct stat st {};
        if (entry.get() < 0) {
            if (last && errno == ENOENT) return Place{std::move(dir), name, shown / name};
            return fail(errno);
        }
        if (::fstat(entry.get(), &st) != 0) return fail(errno);
        if (!S_ISLNK(st.st_mode) || (last && !followLast)) {
            if (last) return Place{std::move(dir), name, shown / name};
            if (!S_ISDIR(st.st_mode)) return fail(ENOTDIR);
            dir = std::move(entry);
            shown /= name;
            continue;
        }
        if (++links > kMaxLinks) return fail(ELOOP);
        struct stat folder {};
        if (::fstat(dir.get(), &folder) != 0) return fail(errno);
        if (!mayFollow(folder, st)) {
            failure.refusedLink = shown / name;
            return fail(EACCES);
        }
        char buffer[PATH_MAX];
        const ssize_t length = ::readlinkat(entry.get(), "", buffer, sizeof buffer);
        if (length < 0) return fail(errno);
        if (static_cast<size_t>(length) >= sizeof buffer) return fail(ENAMETOOLONG);
        const std::string target(buffer, static_cast<size_t>(length));
        std::deque<std::string> parts = componentsOf(target);
        if (!target.empty() && target[0] == '/') {
            base::UniqueFd root(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
            if (root.get() < 0) return fail(errno);
            dir = std::move(root);
            shown = "/";
        }
        // A link to "/" or "." names the folder itself: no file can be made.
        if (parts.empty()) return fail(EISDIR);
        rest.insert(rest.begin(), parts.begin(), parts.end());
    }
    return fail(EISDIR);  // not reached: the last component always returns
}

// What went wrong on the way to a file.
SaveFailure walkFailed(const WalkFailure& failure) {
    if (!failure.refusedLink.empty())
        return failed(SaveStep::RefusedLink, 0, failure.refusedLink.string());
    return failed(SaveStep::Examine, failure.err);
}

// Same folder: the same file system object.
bool sameFolder(int one, int other) {
    struct stat a {};
    struct stat b {};
    return ::fstat(one, &a) == 0 && ::fstat(other, &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

// A new file ".<name>.XXXXXX" in `folder`, with six random letters or digits,
// made exclusively (never an existing entry or a link), mode 0600. -1 with
// errno set when it cannot be made.
int makeTemporaryFile(int folder, const std::string& name, std::string& tempName) {
    static constexpr char kLetters[] =
        "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    constexpr size_t kRandom = 6;
    for (int attempt = 0; attempt < 100; ++attempt) {
        unsigned char random[kRandom];
        if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
            if (errno == EINTR) continue;
            return -1;
        }
        tempName = "." + name + ".";
        for (unsigned char byte : random) tempName += kLetters[byte % (sizeof kLetters - 1)];
        const int fd = ::openat(folder, tempName.c_str(),
                                O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

// The file being replaced, opened for writing, with its state when opened.
struct OldFile {
    base::UniqueFd fd;
    struct stat st {};
    bool readable = false;
};

enum class Outcome { Written, Failed, NeedsInPlace };

// Writes `bytes` to a new temporary file beside `file` and renames it over
// `file`. NeedsInPlace, with nothing left behind, when the folder does not
// take new files from this user or the old file's owner and group cannot be
// given to the new one.
Outcome replaceByRename(const Place& file, const OldFile* old, std::string_view bytes,
                        SaveFailure& failure) {
    std::string tempName;
    base::UniqueFd fd(makeTemporaryFile(file.folder.get(), file.name, tempName));
    if (fd.get() < 0) {
        const int err = errno;
        if (old && (isPermissionError(err) || err == EROFS)) return Outcome::NeedsInPlace;
        failure = failed(SaveStep::MakeTemporary, err, folderOf(file.shown).string());
        return Outcome::Failed;
    }
    TempFileGuard temp(file.folder.get(), tempName);

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
        failure = failed(SaveStep::SetMode, errno);
        return Outcome::Failed;
    }
    if (!writeAllAt(fd.get(), bytes, 0) || ::fsync(fd.get()) != 0 || !fd.close()) {
        failure = failed(old ? SaveStep::WriteBesideOld : SaveStep::WriteNew, errno);
        return Outcome::Failed;
    }
    if (::renameat(file.folder.get(), tempName.c_str(), file.folder.get(), file.name.c_str()) !=
        0) {
        failure = failed(SaveStep::Rename, errno);
        return Outcome::Failed;
    }
    temp.commit();

    // Make the rename itself durable. The file is already in place, so a
    // failure here is not reported as a failed write.
    base::UniqueFd dirFd(::openat(file.folder.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dirFd.get() >= 0) ::fsync(dirFd.get());
    return Outcome::Written;
}

// Rewrites the open file from its first byte: the whole new content, then cut
// to its length, then flushed. On failure the old content is put back when it
// could be read first.
std::optional<SaveFailure> rewriteInPlace(OldFile& old, std::string_view bytes) {
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
        return failed(restored ? SaveStep::WriteRestored : SaveStep::WriteNotRestored, err);
    }
    // As with a replaced file, setuid, setgid and sticky are dropped (where
    // the user owns the file; for anyone else the system clears the first two
    // on writing).
    if ((old.st.st_mode & 07000) != 0) (void)::fchmod(fd, old.st.st_mode & 0777);
    if (!old.fd.close()) return failed(SaveStep::CloseInPlace, errno);
    return std::nullopt;
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

// Removes the leftovers of rewrites of the file `place` names, in its folder.
void removeLeftoversBeside(const Place& place) {
    const int folder = place.folder.get();
    const int listingFd = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listingFd < 0) return;
    DIR* listing = ::fdopendir(listingFd);
    if (listing == nullptr) {
        ::close(listingFd);
        return;
    }
    const std::time_t now = std::time(nullptr);
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(listing)) {
        if (isTemporaryName(entry->d_name, place.name)) names.emplace_back(entry->d_name);
    }
    ::closedir(listing);
    for (const std::string& name : names) {
        // Judged by the entry itself, through the folder already opened, so a
        // link is seen as a link and never followed.
        struct stat st {};
        if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) continue;
        if (now - st.st_mtime < kLeftoverAge.count()) continue;
        ::unlinkat(folder, name.c_str(), 0);
    }
}

// Opens the file `file` names for rewriting when there is one (`exists`),
// with its state in `old`. Only a regular file is opened, and it is checked
// before opening, so that opening cannot disturb a device or wait on a FIFO.
std::optional<SaveFailure> openOldFile(const Place& file, OldFile& old, bool& exists) {
    const int folder = file.folder.get();
    exists = false;
    if (::fstatat(folder, file.name.c_str(), &old.st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) return std::nullopt;
        return failed(SaveStep::Examine, errno);
    }
    exists = true;
    if (!S_ISREG(old.st.st_mode)) return failed(SaveStep::NotRegular, 0, file.shown.string());
    constexpr int kFlags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW;
    old.fd = base::UniqueFd(::openat(folder, file.name.c_str(), O_RDWR | kFlags));
    old.readable = old.fd.get() >= 0;
    if (!old.readable && errno == EACCES)
        old.fd = base::UniqueFd(::openat(folder, file.name.c_str(), O_WRONLY | kFlags));
    if (old.fd.get() < 0) {
        const int err = errno;
        return failed(isPermissionError(err) ? SaveStep::OpenDenied : SaveStep::Open, err);
    }
    if (::fstat(old.fd.get(), &old.st) != 0 || !S_ISREG(old.st.st_mode))
        return failed(SaveStep::NotRegularOnOpen, 0, file.shown.string());
    return std::nullopt;
}

}  // namespace

std::optional<std::string> readSmallFile(const std::filesystem::path& path, std::size_t maxBytes) {
    try {
        // O_NONBLOCK keeps open() from waiting for a writer when the path is a
        // FIFO; it has no effect on regular files.
        base::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
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

std::optional<SaveFailure> rewriteFile(const std::filesystem::path& target,
                                       std::string_view bytes) {
    try {
        const fs::path name = target.filename();
        if (name.empty() || name == "." || name == "..")
            return failed(SaveStep::NoFileName, 0, target.string());
        WalkFailure walk;
        const std::optional<Place> file = resolvePlace(target, true, walk);
        if (!file) return walkFailed(walk);

        OldFile old;
        bool exists = false;
        if (std::optional<SaveFailure> failure = openOldFile(*file, old, exists)) return failure;

        // A file with other hard links is rewritten in place, as a renamed
        // file would leave the other names with the old content.
        if (!exists || old.st.st_nlink <= 1) {
            SaveFailure failure;
            const Outcome outcome = replaceByRename(*file, exists ? &old : nullptr, bytes, failure);
            if (outcome == Outcome::Written) return std::nullopt;
            if (outcome == Outcome::Failed) return failure;
        }
        return rewriteInPlace(old, bytes);
    } catch (const std::exception& e) {
        SaveFailure failure = failed(SaveStep::Unexpected);
        failure.detail = e.what();
        return failure;
    } catch (...) {
        return failed(SaveStep::Unexpected);
    }
}

void removeLeftoverTemporaryFiles(const std::filesystem::path& target) {
    try {
        WalkFailure failure;
        const std::optional<Place> beside = resolvePlace(target, false, failure);
        if (!beside) return;
        removeLeftoversBeside(*beside);
        // A folder reached only through a link that may not be followed is
        // left alone.
        const std::optional<Place> file = resolvePlace(target, true, failure);
        if (file &&
            (file->name != beside->name || !sameFolder(file->folder.get(), beside->folder.get()))) {
            removeLeftoversBeside(*file);
        }
    } catch (...) {
        // Leftovers are harmless; a failed clean-up is tried again next start.
    }
}

std::filesystem::path settingsPathIn(const std::filesystem::path& dir) {
    return dir / kSettingsFileName;
}

}  // namespace zorvek::settings
