#pragma once
// cpp-httplib with the limits the feed is built for. Every file that uses
// the library includes it through here: its inline functions must be the
// same wherever they are compiled.

#ifndef _WIN32
#define CPPHTTPLIB_USE_POLL  // no limit on a socket's number
#endif
#define CPPHTTPLIB_LISTEN_BACKLOG 128
// A line of the header may be longer than the whole header may be, so that
// an oversized header is answered 413 by the feed, not turned away unread.
#define CPPHTTPLIB_HEADER_MAX_LENGTH 65536
#define CPPHTTPLIB_TCP_NODELAY true
#include <httplib.h>
