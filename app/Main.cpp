#include "app/ScaleApp.h"

wxIMPLEMENT_APP(tarvex::CScaleApp);
