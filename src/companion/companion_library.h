// SPDX-License-Identifier: MIT
// Finds and calls the companion library's probe, Pinging(host), which sends the
// ICMP echo and returns a result code. The program and zorvek-probe both load
// the library through this class, so both find the same copy by the same
// rules and neither runs a copy that a user could have replaced while it holds
// elevated privileges.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "base/failure.h"

namespace zorvek::companion {

// Why the companion library was not loaded. `path` is the file or folder the
// step concerns; `detail` the dynamic linker's own words where it spoke.
enum class LoadStep {
    Load,        // path: the file handed to the dynamic linker, which refused it
    NoEntry,     // the library loaded but has no Pinging
    NoneBeside,  // path: the program's folder, which has no copy; elevated, no other is used
    // Elevated, the copy beside the program is not loaded, because...
    NotAbsolute,       // ...its path is not absolute
    ExamineCopy,       // ...it cannot be examined (err)
    ExamineFolder,     // ...a folder on its way cannot be examined (path, err)
    FolderChangeable,  // ...the real user can change a folder on its way (path)
    ResolveCopy,       // ...its links cannot be resolved (err)
    ExamineResolved,   // ...the file its links lead to cannot be examined (err)
    NotRegular,        // ...what its links lead to is not a regular file (path)
    FileChangeable,    // ...the real user can change the file its links lead to (path)
};

using LoadFailure = base::Failure<LoadStep>;

class CompanionLibrary {
public:
    using PingingFn = int32_t (*)(const char* host);
    // Told why the library was not loaded: `library` is the copy concerned,
    // its path beside the program or, where the search path was tried or no
    // copy is beside it, its file name.
    using Reporter = std::function<void(const std::string& library, const LoadFailure& failure)>;

    // The copy in `programDir` (the folder's path as the file system's bytes)
    // is used when there is one; only when there is none is the system's
    // library search path tried. `baseName` is the library's name without
    // its prefix and suffix ("Zorvek" → libZorvek.so). A failed load is told
    // to `report`, once for each new reason.
    //
    // A process started with elevated privileges (a setuid or setgid program,
    // or one given capabilities such as cap_net_raw) loads only a copy that
    // the real user can change neither directly nor through any folder on its
    // path, and never one from the search path.
    CompanionLibrary(std::string programDir, Reporter report, std::string baseName = "Zorvek");
    ~CompanionLibrary();
    CompanionLibrary(const CompanionLibrary&) = delete;
    CompanionLibrary& operator=(const CompanionLibrary&) = delete;

    // Calls Pinging with `host` (code page 932, NUL-terminated). The library is
    // loaded on the first call; when it cannot be loaded the call reports -2,
    // when it has no Pinging -3, and the next call tries again, so installing
    // the library later needs no restart.
    int32_t ping(const std::string& host);

    // The file name for a library base name: lib<baseName>.so.
    static std::string fileNameFor(const std::string& baseName);

    // True when this process runs with privileges its real user does not
    // have (the kernel's AT_SECURE flag).
    static bool runsElevated();

private:
    bool load(int32_t& failureCode);
    void* open();
    void report(const LoadFailure& failure);

    std::string programDir_;
    Reporter report_;
    std::string baseName_;
    bool elevated_;
    void* handle_ = nullptr;
    PingingFn pinging_ = nullptr;
    std::string copy_;  // the copy the last load was about, as the Reporter names it
    std::string lastCopy_;
    std::optional<LoadFailure> lastFailure_;
};

}  // namespace zorvek::companion
