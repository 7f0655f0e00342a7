#pragma once
// Control numbers of the main window's layout (template 102).

namespace tarvex {

constexpr int IDD_SCALE_DIALOG = 102;
constexpr int IDC_LIST = 1000;
constexpr int IDC_OPEN_CLOSE = 1002;
constexpr int IDC_PORT_COMBO = 1004;
constexpr int IDC_LANGUAGE_COMBO = 1005;
constexpr int IDC_UNIT_KG = 1010;
constexpr int IDC_UNIT_LB = 1011;
constexpr int IDC_UNIT_LBOZ = 1012;
constexpr int IDC_CLEAR = 1013;
constexpr int IDC_REFRESH = 1014;
constexpr int IDC_SAVE = 1015;
constexpr int IDC_CONFIRM_LANGUAGE = 1016;
constexpr int IDC_UNIT_GROUP = 1019;
constexpr int IDC_PORT_GROUP = 1020;
constexpr int IDC_LANGUAGE_GROUP = 1021;
// Beyond the template: the status line under the controls, and the check
// box for typing into the program in front.
constexpr int IDC_STATUS = 1030;
constexpr int IDC_TYPING = 1031;
// The scale: its protocol, its commands and its live weight and state.
constexpr int IDC_SCALE_LABEL = 1032;
constexpr int IDC_SCALE_COMBO = 1033;
constexpr int IDC_ZERO = 1034;
constexpr int IDC_TARE = 1035;
constexpr int IDC_WEIGH = 1036;
constexpr int IDC_LIVE_WEIGHT = 1037;
constexpr int IDC_LIVE_STATE = 1038;
constexpr int IDC_FIND_PROTOCOL = 1039;
// Timers of the main window: the session's, one for each SessionTimer in
// its order, then the redraw.
constexpr int ID_SESSION_TIMER = 2001;
constexpr int ID_REDRAW_TIMER = 2010;

}  // namespace tarvex
