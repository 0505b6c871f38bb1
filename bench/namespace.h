// SPDX-License-Identifier: MIT
// Shared by the probe library's benchmarks that need a network of their own:
// a fresh network namespace with loopback up, its sysctls, and giving up
// root. Header-only; every step exits the benchmark with status 2 on failure.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace bench {

[[noreturn]] inline void fail(const char* what) {
    std::perror(what);
    std::exit(2);
}

inline void writeFile(const std::string& path, const std::string& text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || ::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        fail(path.c_str());
    }
    ::close(fd);
}

// A new network namespace (plus mount namespace if asked) with lo up.
inline void enterNamespace(int extraFlags = 0) {
    if (::unshare(CLONE_NEWNET | extraFlags) != 0) fail("unshare (run as root)");
    const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq ifr{};
    std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
    if (s < 0 || ::ioctl(s, SIOCGIFFLAGS, &ifr) != 0) fail("lo flags");
    ifr.ifr_flags |= IFF_UP;
    if (::ioctl(s, SIOCSIFFLAGS, &ifr) != 0) fail("bringing lo up");
    ::close(s);
}

inline void setSysctl(const char* name, const char* value) {
    std::string path = std::string("/proc/sys/") + name;
    for (char& c : path) {
        if (c == '.') c = '/';
    }
    writeFile(path, value);
}

// uid and gid 65534, no groups: no capability left, CAP_NET_RAW included.
inline void dropToNobody() {
    if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) {
        fail("dropping root");
    }
}

}  // namespace bench
