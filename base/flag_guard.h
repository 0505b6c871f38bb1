// SPDX-License-Identifier: MIT
// Raises a flag for the length of a scope and lowers it again on every way out,
// also when the code inside throws. Used as a re-entrancy guard.
#pragma once

namespace zorvek::base {

class FlagGuard {
public:
    explicit FlagGuard(bool& flag) : flag_(flag) { flag_ = true; }
    ~FlagGuard() { flag_ = false; }
    FlagGuard(const FlagGuard&) = delete;
    FlagGuard& operator=(const FlagGuard&) = delete;

private:
    bool& flag_;
};

}  // namespace zorvek::base
