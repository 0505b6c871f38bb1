// SPDX-License-Identifier: MIT
#include "app/resident_pages.h"

#include <link.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <iterator>
#include <string>

namespace zorvek::app {
namespace {

// One mapping of an smaps text as far as the choice needs it.
struct Mapping {
    MappedRange range;
    bool header = false;  // a header line was read
    bool candidate = false;
    bool sawAnonymous = false;  // the Anonymous line said 0 kB
    bool resident = false;
};

std::string_view nextField(std::string_view& line) {
    const size_t start = line.find_first_not_of(' ');
    if (start == std::string_view::npos) {
        line = {};
        return {};
    }
    line.remove_prefix(start);
    const size_t end = std::min(line.find(' '), line.size());
    const std::string_view field = line.substr(0, end);
    line.remove_prefix(end);
    return field;
}

bool parseHex(std::string_view text, std::uintptr_t& value) {
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    return ec == std::errc() && ptr == text.data() + text.size();
}

// "55d5c8a00000-55d5c8a2e000 r--p 00000000 fe:01 1234   /usr/bin/zorvek"
bool parseHeader(std::string_view line, Mapping& mapping) {
    std::string_view rest = line;
    const std::string_view addresses = nextField(rest);
    const size_t dash = addresses.find('-');
    if (dash == std::string_view::npos) return false;
    MappedRange range;
    if (!parseHex(addresses.substr(0, dash), range.begin) ||
        !parseHex(addresses.substr(dash + 1), range.end) || range.end <= range.begin)
        return false;
    const std::string_view perms = nextField(rest);
    nextField(rest);  // offset
    nextField(rest);  // device
    const std::string_view inode = nextField(rest);
    const size_t pathStart = rest.find_first_not_of(' ');
    const std::string_view path =
        pathStart == std::string_view::npos ? std::string_view() : rest.substr(pathStart);
    if (perms.size() != 4 || inode.empty()) return false;
    mapping = Mapping{};
    mapping.range = range;
    mapping.header = true;
    constexpr std::string_view kDeleted = " (deleted)";
    mapping.candidate = perms[1] != 'w' && inode != "0" && path.starts_with('/') &&
                        !path.starts_with("/dev/") && !path.ends_with(kDeleted);
    return true;
}

// The number in "Name:   123 kB".
long long kilobytes(std::string_view value) {
    std::string_view rest = value;
    const std::string_view number = nextField(rest);
    long long kb = -1;
    const auto [ptr, ec] = std::from_chars(number.data(), number.data() + number.size(), kb);
    return ec == std::errc() && ptr == number.data() + number.size() ? kb : -1;
}

bool hasFlag(std::string_view flags, std::string_view flag) {
    std::string_view rest = flags;
    for (std::string_view f = nextField(rest); !f.empty(); f = nextField(rest))
        if (f == flag) return true;
    return false;
}

void keepIfUnchanged(const Mapping& mapping, std::vector<MappedRange>& out) {
    // A mapping whose Anonymous line is missing is not known to be unchanged.
    if (mapping.header && mapping.candidate && mapping.sawAnonymous && mapping.resident)
        out.push_back(mapping.range);
}

}  // namespace

std::vector<MappedRange> unchangedFileMappings(std::string_view smaps) {
    std::vector<MappedRange> out;
    Mapping mapping;
    while (!smaps.empty()) {
        const size_t end = std::min(smaps.find('\n'), smaps.size());
        const std::string_view line = smaps.substr(0, end);
        smaps.remove_prefix(std::min(end + 1, smaps.size()));
        const size_t colon = line.find(':');
        const size_t space = line.find(' ');
        // A field line's name ends with a colon before any space; a header's
        // first word is an address range.
        const bool field = colon != std::string_view::npos && colon < space;
        if (!field) {
            keepIfUnchanged(mapping, out);
            if (!parseHeader(line, mapping)) mapping = Mapping{};
            continue;
        }
        if (!mapping.header) continue;
        const std::string_view name = line.substr(0, colon);
        const std::string_view value = line.substr(colon + 1);
        if (name == "Rss") {
            mapping.resident = kilobytes(value) > 0;
        } else if (name == "Anonymous") {
            const long long kb = kilobytes(value);
            mapping.sawAnonymous = kb == 0;
            if (kb != 0) mapping.candidate = false;
        } else if (name == "VmFlags") {
            // Locked pages stay; I/O and PFN mappings belong to a driver.
            if (hasFlag(value, "lo") || hasFlag(value, "io") || hasFlag(value, "pf"))
                mapping.candidate = false;
        }
    }
    keepIfUnchanged(mapping, out);
    return out;
}

std::size_t releaseUnchangedFilePages() {
    std::ifstream file("/proc/self/smaps", std::ios::binary);
    if (!file) return 0;
    const std::string smaps((std::istreambuf_iterator<char>(file)),
                            std::istreambuf_iterator<char>());
    struct Walk {
        std::vector<MappedRange> unchanged;
        std::uintptr_t page = 0;
        std::size_t released = 0;
    } walk{unchangedFileMappings(smaps), static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE))};
    if (walk.unchanged.empty() || walk.page == 0) return 0;
    // Only the read-only segments of the program and its loaded libraries are
    // let go, and only while the loader's lock is held (it is, inside this
    // callback): no thread can unload a library and have the address reused
    // for memory of its own between reading smaps and unmapping.
    ::dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) {
            auto& w = *static_cast<Walk*>(data);
            for (int i = 0; i < info->dlpi_phnum; ++i) {
                const ElfW(Phdr)& segment = info->dlpi_phdr[i];
                if (segment.p_type != PT_LOAD || (segment.p_flags & PF_W) != 0) continue;
                const std::uintptr_t start = info->dlpi_addr + segment.p_vaddr;
                const std::uintptr_t begin = start & ~(w.page - 1);
                const std::uintptr_t end = (start + segment.p_memsz + w.page - 1) & ~(w.page - 1);
                for (const MappedRange& range : w.unchanged) {
                    const std::uintptr_t from = std::max(begin, range.begin);
                    const std::uintptr_t to = std::min(end, range.end);
                    if (from >= to) continue;
                    // The file's pages stay in the page cache; the next touch
                    // maps them back.
                    if (::madvise(reinterpret_cast<void*>(from), to - from, MADV_DONTNEED) == 0)
                        w.released += to - from;
                }
            }
            return 0;
        },
        &walk);
    return walk.released;
}

}  // namespace zorvek::app
