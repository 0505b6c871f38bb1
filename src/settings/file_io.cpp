// SPDX-License-Identifier: MIT
#include "settings/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <fstream>
#include <system_error>

#include "settings/settings_file.h"
#include "support/unique_fd.h"

namespace zorvek {
namespace {

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

void setError(std::string* error, const char* what, std::string_view subject, int err) noexcept {
    if (!error) return;
    try {
        *error = what;
        if (!subject.empty()) *error += " " + std::string(subject);
        if (err != 0) *error += ": " + std::system_category().message(err);
    } catch (...) {
        // Out of memory while describing the failure: the false result stands.
    }
}

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

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(written));
    }
    return true;
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

bool writeFileAtomically(const std::filesystem::path& target, std::string_view bytes,
                         std::string* error) {
    try {
        const std::filesystem::path name = target.filename();
        if (name.empty() || name == "." || name == "..") {
            setError(error, "not a file name:", target.native(), 0);
            return false;
        }
        std::filesystem::path dir = target.parent_path();
        if (dir.empty()) dir = ".";

        mode_t mode = 0644 & ~currentUmask();
        struct stat old {};
        if (::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode)) mode = old.st_mode & 07777;

        std::string tempPath = (dir / ("." + name.string() + ".XXXXXX")).string();
        UniqueFd fd(::mkstemp(tempPath.data()));
        if (fd.get() < 0) {
            setError(error, "cannot create a temporary file in", dir.native(), errno);
            return false;
        }
        TempFileGuard temp(tempPath);

        if (::fchmod(fd.get(), mode) != 0) {
            setError(error, "cannot set the permissions of", tempPath, errno);
            return false;
        }
        if (!writeAll(fd.get(), bytes)) {
            setError(error, "cannot write", tempPath, errno);
            return false;
        }
        if (::fsync(fd.get()) != 0) {
            setError(error, "cannot flush", tempPath, errno);
            return false;
        }
        if (!fd.close()) {
            setError(error, "cannot close", tempPath, errno);
            return false;
        }
        if (::rename(tempPath.c_str(), target.c_str()) != 0) {
            setError(error, "cannot replace", target.native(), errno);
            return false;
        }
        temp.commit();

        // Make the rename itself durable. The file is already in place, so a
        // failure here is not reported as a failed write.
        UniqueFd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (dirFd.get() >= 0) ::fsync(dirFd.get());
        return true;
    } catch (const std::exception& e) {
        setError(error, "cannot write the file:", e.what(), 0);
        return false;
    } catch (...) {
        setError(error, "cannot write the file", "", 0);
        return false;
    }
}

std::filesystem::path settingsPathIn(const std::filesystem::path& dir) {
    return dir / kSettingsFileName;
}

}  // namespace zorvek
