#include "text/SystemReason.h"

#include "text/TextCodec.h"

namespace tarvex {

std::wstring SystemReason(const std::error_code& error) { return WideFromUtf8(error.message()); }

std::wstring SystemReason(int error) { return SystemReason(std::error_code(error, std::generic_category())); }

}  // namespace tarvex
