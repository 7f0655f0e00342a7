#include "app/AppIcon.h"

#include "resources/tarvex-scale.xpm"

namespace tarvex {

wxIcon AppIcon() { return wxIcon(tarvex_scale_xpm); }

}  // namespace tarvex
