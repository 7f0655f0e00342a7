#pragma once
// cpp-httplib with the limits the feed is built for. Every file that uses
// the library includes it through here: its inline functions must be the
// same wherever they are compiled.

#ifndef _WIN32
#define CPPHTTPLIB_USE_POLL  // no limit on a socket's number
#endif
#define CPPHTTPLIB_LISTEN_BACKLOG 128
// The library (as tools/fetch-http-headers.sh patches it) cuts a request
// line or header line past 8 KiB, a header past 100 lines or 10 s, before
// keeping more of it: answered 414, 431 or 408 and closed. The feed's own
// bound on the whole header (413) comes after. A connection that no thread
// is free to serve is answered 503 at once and closed.
#define CPPHTTPLIB_HEADER_MAX_LENGTH 8192
#define CPPHTTPLIB_HEADER_MAX_COUNT 100
#define CPPHTTPLIB_HEADER_TIME_LIMIT_SECOND 10
#define CPPHTTPLIB_TCP_NODELAY true
// HTTPS where the build has OpenSSL (CMake says so for every file alike).
#ifdef TARVEX_FEED_TLS
#define CPPHTTPLIB_OPENSSL_SUPPORT
#endif
#include <httplib.h>

namespace tarvex {
// Compiles only with the patched library.
inline constexpr auto* HTTP_LIBRARY_BOUNDS_REQUESTS = &httplib::detail::request_refusal;
inline constexpr auto* HTTP_LIBRARY_TURNS_AWAY = &httplib::detail::turn_away;
}  // namespace tarvex
