// SPDX-License-Identifier: MIT
#include "probe/companion_library.h"

#include "probe/result_messages.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace zorvek {
namespace {

void* openLibrary(const std::string& path) {
#ifdef _WIN32
    return reinterpret_cast<void*>(LoadLibraryA(path.c_str()));
#else
    return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
#endif
}

void closeLibrary(void* handle) {
#ifdef _WIN32
    FreeLibrary(reinterpret_cast<HMODULE>(handle));
#else
    dlclose(handle);
#endif
}

void* findSymbol(void* handle, const char* name) {
#ifdef _WIN32
    return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(handle), name));
#else
    return dlsym(handle, name);
#endif
}

}  // namespace

CompanionLibrary::CompanionLibrary(std::filesystem::path programDir, std::string baseName)
    : programDir_(std::move(programDir)), baseName_(std::move(baseName)) {}

CompanionLibrary::~CompanionLibrary() {
    if (handle_ != nullptr) closeLibrary(handle_);
}

std::string CompanionLibrary::fileNameFor(const std::string& baseName) {
#ifdef _WIN32
    return baseName + ".dll";
#elif defined(__APPLE__)
    return "lib" + baseName + ".dylib";
#else
    return "lib" + baseName + ".so";
#endif
}

bool CompanionLibrary::load(int32_t& failureCode) {
    if (pinging_ != nullptr) return true;
    const std::string fileName = fileNameFor(baseName_);
    if (handle_ == nullptr) {
        // The copy beside the program wins over anything on the search path.
        const std::filesystem::path beside = programDir_ / fileName;
        std::error_code ec;
        if (!programDir_.empty() && std::filesystem::exists(beside, ec)) {
            handle_ = openLibrary(beside.string());
        }
        if (handle_ == nullptr) handle_ = openLibrary(fileName);
        if (handle_ == nullptr) {
            failureCode = kCodeLibraryMissing;
            return false;
        }
    }
    pinging_ = reinterpret_cast<PingingFn>(findSymbol(handle_, "Pinging"));
    if (pinging_ == nullptr) {
        closeLibrary(handle_);
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

}  // namespace zorvek
