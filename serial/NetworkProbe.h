#pragma once
// The probe of network ports: which servers accept a connection.

#include <functional>
#include <vector>

#include "serial/NetworkAddress.h"

namespace tarvex {

// Which of the addresses accept a connection within the limit, all tried at
// once; whileWaiting runs every few milliseconds until the answers are in.
std::vector<bool> ReachableAddresses(const std::vector<NetworkAddress>& addresses, int limitMs,
                                     const std::function<void()>& whileWaiting);

}  // namespace tarvex
