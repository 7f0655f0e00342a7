#pragma once
// The feed's address as the settings give it, and whether a host names
// this computer itself.

#include <string>

namespace tarvex {

// "127.0.0.1:8787", "[::1]:8787", "localhost:8787"; false when it is none.
bool ParseFeedAddress(const std::string& text, std::string& host, int& port);
// "localhost", "::1" or an IPv4 address 127.x.x.x (not a name that only
// begins so).
bool IsLoopbackHost(const std::string& host);

}  // namespace tarvex
