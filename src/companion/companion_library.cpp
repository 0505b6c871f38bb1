// SPDX-License-Identifier: MIT
#include "companion/companion_library.h"

#include "companion/result_messages.h"

#include <optional>
#include <utility>

#include <dlfcn.h>
#include <sys/auxv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace zorvek::companion {
namespace {

void* openLibrary(const std::string& path) { return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL); }

// Why the last open or lookup failed, as the dynamic linker says it.
std::string lastLoadError() {
    const char* text = dlerror();
    return text != nullptr ? text : "unknown error";
}

// Whether anything by the name `path` is there: a file, a folder, even a
// dangling link or one that cannot be examined.
bool nameTaken(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 || (errno != ENOENT && errno != ENOTDIR);
}

LoadFailure failed(LoadStep step, std::string path = {}, int err = 0, std::string detail = {}) {
    return LoadFailure{step, err, std::move(path), std::move(detail)};
}

// Whether the real user can change `path`: write to it, or, as its owner,
// give themselves the right to. access() asks with the real user and groups,
// not with the privileges this process was started with.
bool userCanChange(const std::string& path, const struct stat& st) {
    return st.st_uid == ::getuid() || ::access(path.c_str(), W_OK) == 0;
}

// Walks from `path` (whose own status is `entry`) up to the root: every
// folder on the way must be out of the real user's reach, or the user could
// put something else in its place. A sticky folder the user may write to
// (such as /tmp) is fine when neither it nor the entry below it belongs to the
// user, since the user then can neither remove nor rename that entry.
std::optional<LoadFailure> reachableFolder(std::string path, struct stat entry) {
    while (path != "/") {
        const size_t slash = path.rfind('/');
        path = slash == 0 ? std::string("/") : path.substr(0, slash);
        struct stat dir {};
        if (::stat(path.c_str(), &dir) != 0) return failed(LoadStep::ExamineFolder, path, errno);
        if (userCanChange(path, dir)) {
            const bool guardedBySticky = (dir.st_mode & S_ISVTX) != 0 && dir.st_uid != ::getuid() &&
                                         entry.st_uid != ::getuid();
            if (!guardedBySticky) return failed(LoadStep::FolderChangeable, path);
        }
        entry = dir;
    }
    return std::nullopt;
}

// Checks `file` for loading into an elevated process. On success `canonical`
// holds its path with every symbolic link resolved, which is what must be
// loaded: the checks hold for that path only. Otherwise what made it unsafe
// is returned. The file itself and the folders of both its given and its
// resolved path must be out of the real user's reach, so that the user can
// neither change the file nor point the name at another one, before or after
// the check.
std::optional<LoadFailure> unsafeForElevated(const std::string& file, std::string& canonical) {
    if (file.empty() || file.front() != '/') return failed(LoadStep::NotAbsolute, file);
    struct stat given {};
    if (::lstat(file.c_str(), &given) != 0) return failed(LoadStep::ExamineCopy, file, errno);
    if (std::optional<LoadFailure> why = reachableFolder(file, given)) return why;

    char* resolved = ::realpath(file.c_str(), nullptr);
    if (resolved == nullptr) return failed(LoadStep::ResolveCopy, file, errno);
    canonical = resolved;
    std::free(resolved);
    struct stat st {};
    if (::stat(canonical.c_str(), &st) != 0)
        return failed(LoadStep::ExamineResolved, canonical, errno);
    if (!S_ISREG(st.st_mode)) return failed(LoadStep::NotRegular, canonical);
    if (userCanChange(canonical, st)) return failed(LoadStep::FileChangeable, canonical);
    return reachableFolder(canonical, st);
}

}  // namespace

CompanionLibrary::CompanionLibrary(std::string programDir, Reporter report, std::string baseName)
    : programDir_(std::move(programDir)),
      report_(std::move(report)),
      baseName_(std::move(baseName)),
      elevated_(runsElevated()) {}

CompanionLibrary::~CompanionLibrary() {
    if (handle_ != nullptr) dlclose(handle_);
}

std::string CompanionLibrary::fileNameFor(const std::string& baseName) {
    return "lib" + baseName + ".so";
}

bool CompanionLibrary::runsElevated() { return ::getauxval(AT_SECURE) != 0; }

void CompanionLibrary::report(const LoadFailure& failure) {
    // A failed load is retried at every probe; the same reason is told once.
    if (lastFailure_ == failure && lastCopy_ == copy_) return;
    lastFailure_ = failure;
    lastCopy_ = copy_;
    if (report_) report_(copy_, failure);
}

void* CompanionLibrary::open() {
    const std::string fileName = fileNameFor(baseName_);
    const std::string beside = programDir_ + "/" + fileName;
    // Whatever bears the name beside the program is the copy to use: a broken
    // copy is reported, never silently replaced by another one found elsewhere.
    if (!programDir_.empty() && nameTaken(beside)) {
        copy_ = beside;
        std::string toLoad = beside;
        if (elevated_) {
            if (const std::optional<LoadFailure> why = unsafeForElevated(beside, toLoad)) {
                report(*why);
                return nullptr;
            }
        }
        void* handle = openLibrary(toLoad);
        if (handle == nullptr) report(failed(LoadStep::Load, toLoad, 0, lastLoadError()));
        return handle;
    }
    copy_ = fileName;
    if (elevated_) {
        report(failed(LoadStep::NoneBeside, programDir_));
        return nullptr;
    }
    void* handle = openLibrary(fileName);
    if (handle == nullptr) report(failed(LoadStep::Load, fileName, 0, lastLoadError()));
    return handle;
}

bool CompanionLibrary::load(int32_t& failureCode) {
    if (pinging_ != nullptr) return true;
    if (handle_ == nullptr) handle_ = open();
    if (handle_ == nullptr) {
        failureCode = kCodeLibraryMissing;
        return false;
    }
    pinging_ = reinterpret_cast<PingingFn>(dlsym(handle_, "Pinging"));
    if (pinging_ == nullptr) {
        report(failed(LoadStep::NoEntry, {}, 0, lastLoadError()));
        dlclose(handle_);
        handle_ = nullptr;
        failureCode = kCodeEntryMissing;
        return false;
    }
    return true;
}

int32_t CompanionLibrary::ping(const std::string& host) {
    int32_t failure = 0;
    if (!load(failure)) return failure;
    return pinging_(host.c_str());
}

}  // namespace zorvek::companion
