#pragma once
// The feed's live page: the newest weight large, its unit and time, the
// link's state and the last ten readings, kept up to date from the stream.
// Everything it needs is in the one page.

#include <string>
#include <string_view>

namespace tarvex {

// textsJson: {"title", "waiting", "no_reading", "last_ten", "number",
// "weight", "unit", "time", "connected", "connecting", "watching",
// "closed", "lost"} in the program's language.
std::string LivePage(std::string_view textsJson);

}  // namespace tarvex
