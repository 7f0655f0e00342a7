#pragma once

#include <wx/icon.h>

namespace tarvex {

// The program's icon, for the window and the About box.
wxIcon AppIcon();

}  // namespace tarvex
