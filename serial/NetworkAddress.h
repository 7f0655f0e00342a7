#pragma once
// A scale reached over the network: the port map's "socket://host:port"
// (the bytes as they are) or "rfc2217://host:port" (Telnet, with the serial
// settings sent as the COM-PORT-OPTION asks).

#include <optional>
#include <string>

namespace tarvex {

struct NetworkAddress {
    enum class Kind { Raw, Rfc2217 };
    Kind kind = Kind::Raw;
    std::string host;  // a name or an address, IPv6 without its brackets
    std::string port;  // 1-65535, as digits

    // "host:port", an IPv6 address in brackets: how reports name it.
    std::string Label() const;
};

// The address a port map entry names, if it names one. An entry with one
// of the two prefixes but no usable host or port is no address either.
std::optional<NetworkAddress> ParseNetworkAddress(const std::string& device);

}  // namespace tarvex
