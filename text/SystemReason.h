#pragma once
// The system's own words for an error, as the program shows them to the
// user: the one place that turns an error code into text.

#include <string>
#include <system_error>

namespace tarvex {

std::wstring SystemReason(const std::error_code& error);
// An errno value.
std::wstring SystemReason(int error);

}  // namespace tarvex
