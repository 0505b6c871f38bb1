// SPDX-License-Identifier: MIT
// Shared by the settings tests that write as an ordinary user: who that user
// is, and a scratch folder that user may enter.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace zorvek::settings {

// The ordinary user the permission cases write as: nobody when the tests run
// as root (root is never refused by permission bits), else the test's own user.
inline constexpr uid_t kNobody = 65534;
inline uid_t writerUid() { return ::geteuid() == 0 ? kNobody : ::geteuid(); }

// A new folder in the temporary folder that the ordinary user may enter,
// removed with all it holds, read-only folders a case made included.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& prefix) {
        std::string pattern =
            (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error(std::string("mkdtemp: ") + std::strerror(errno));
        path_ = pattern;
        ::chmod(path_.c_str(), 0755);
    }
    ~ScratchFolder() {
        std::error_code ec;
        for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
             !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
            if (it->is_directory() && !it->is_symlink()) ::chmod(it->path().c_str(), 0755);
        }
        ::chmod(path_.c_str(), 0755);
        std::filesystem::remove_all(path_, ec);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

}  // namespace zorvek::settings
