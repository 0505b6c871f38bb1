// SPDX-License-Identifier: MIT
// Unmapping the pages an idle program does not use. Once start-up is over and
// the window is hidden, the program wakes twice a second and touches a few
// hundred kilobytes, yet it keeps about 25 MB of code, constant data and font
// files mapped from start-up and from the window. On the virtual machines the
// program was measured on, a process's CPU time while it sleeps and wakes grows
// with the number of pages it has mapped, touched or not (about 0.25 ms a
// second for every 20 MB), so those pages cost more than all of its own work.
//
// Only pages that hold nothing but their file's bytes are let go: the
// read-only segments of the program and its libraries, where no page was ever
// copied on write.
// They stay in the page cache, and a page touched again is mapped back from
// there, as after the kernel's own reclaim; nothing the program wrote is lost.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace zorvek::app {

struct MappedRange {
    std::uintptr_t begin = 0;
    std::uintptr_t end = 0;
    bool operator==(const MappedRange&) const = default;
};

// The mappings in a /proc/PID/smaps text whose resident pages are all the
// mapped file's own bytes: file-backed (a path, not a device, not deleted),
// not writable, no anonymous (copied-on-write) page, not locked, not an I/O or
// PFN mapping, with at least one page resident.
std::vector<MappedRange> unchangedFileMappings(std::string_view smaps);

// Unmaps the resident pages of this process's unchanged file mappings (see
// above) that lie in a read-only segment of the program or a loaded library,
// and returns how many bytes of mappings were given up; 0 when
// /proc/self/smaps cannot be read.
std::size_t releaseUnchangedFilePages();

}  // namespace zorvek::app
