// SPDX-License-Identifier: MIT
/*
 * Zorvek probe library: one ICMP echo probe of one host.
 *
 * The library exports a single C function so the program can load it at run
 * time (dlopen from its own directory) without any C++ ABI coupling.
 */
#ifndef ZORVEK_ZORVEK_H
#define ZORVEK_ZORVEK_H

#include <stdint.h>

#if defined(__GNUC__)
#define ZORVEK_EXPORT __attribute__((visibility("default")))
#else
#define ZORVEK_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes of Pinging(). */
enum {
    ZORVEK_EMPTY_HOST = -1,    /* host is NULL or "" */
    ZORVEK_SUCCESS = 0,        /* a matching echo reply arrived */
    ZORVEK_HOST_NOT_FOUND = 1, /* not a valid name, not resolved, or not resolved in time */
    ZORVEK_PING_ERROR = 2,     /* no reply in time, destination unreachable, or send error */
    ZORVEK_NO_SOCKET = -4      /* no ICMP socket is permitted and the system's ping cannot probe */
};

/*
 * Sends ICMP echo requests to `host` (a host name or an IPv4/IPv6 literal in
 * code page 932 bytes, NUL-terminated) and waits for a matching reply.
 * Returns one of the codes above within 2.5 seconds, name resolution included.
 * Thread-safe; every call uses its own socket (or its own ping process).
 */
ZORVEK_EXPORT int32_t Pinging(const char* host);

#ifdef __cplusplus
}
#endif

#endif /* ZORVEK_ZORVEK_H */
