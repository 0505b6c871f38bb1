// SPDX-License-Identifier: MIT
// Owns one POSIX file descriptor and closes it on every way out of a scope.
// Header-only, so the program and the companion library share it without
// sharing a link dependency.
#pragma once

#include <unistd.h>

#include <utility>

namespace zorvek::base {

class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    ~UniqueFd() {
        if (fd_ >= 0) ::close(fd_);
    }

    int get() const { return fd_; }

    // Closes now and reports whether the close succeeded: on some file
    // systems close is the first to report a failed write.
    bool close() {
        const int fd = std::exchange(fd_, -1);
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int fd_;
};

}  // namespace zorvek::base
