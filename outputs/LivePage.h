#pragma once
// The feed's live page: the newest weight large, its unit and time, the
// link's state and the last ten readings, kept up to date from the stream.
// Everything it needs is in the one page.

#include <string>
#include <string_view>

namespace tarvex {

struct LivePageAnswer {
    std::string html;
    // Only this answer's own script and style run in the page.
    std::string securityPolicy;
};

// textsJson: {"title", "waiting", "no_reading", "last_ten", "number",
// "weight", "unit", "time", "connected", "connecting", "watching",
// "closed", "lost"} in the program's language. Every answer has a nonce of
// its own.
LivePageAnswer LivePage(std::string_view textsJson);

}  // namespace tarvex
