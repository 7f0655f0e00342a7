#include "ScaleApp.h"

wxIMPLEMENT_APP(tarvex::CScaleApp);
