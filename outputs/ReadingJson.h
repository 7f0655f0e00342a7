#pragma once
// One reading as the feed's JSON object, on one line.

#include <string>

#include "outputs/ReadingFields.h"

namespace tarvex {

std::string ReadingJson(const ReadingFields& fields);

}  // namespace tarvex
