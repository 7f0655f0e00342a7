// Another Windows program with the keyboard: one window with a multi-line
// edit control, as a clerk's order program has. Every change of its text
// is written to the file named (UTF-8, replaced whole), so a test reads
// exactly what the field holds.
//
//   tarvex-text-field.exe PATH

#include <windows.h>

#include <string>

namespace {

constexpr int ID_FIELD = 100;
const wchar_t* g_path = nullptr;
HWND g_field = nullptr;

void SaveText() {
    const int length = GetWindowTextLengthW(g_field);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    GetWindowTextW(g_field, text.data(), length + 1);
    text.resize(static_cast<size_t>(length));
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), length, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), length, utf8.data(), bytes, nullptr, nullptr);
    const std::wstring temporary = std::wstring(g_path) + L".new";
    HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
    CloseHandle(file);
    MoveFileExW(temporary.c_str(), g_path, MOVEFILE_REPLACE_EXISTING);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            g_field = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"",
                                      WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN,
                                      0, 0, 0, 0, window, reinterpret_cast<HMENU>(ID_FIELD), nullptr, nullptr);
            SaveText();
            return 0;
        case WM_SIZE:
            MoveWindow(g_field, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
            return 0;
        case WM_SETFOCUS:
            SetFocus(g_field);
            return 0;
        case WM_COMMAND:
            if (LOWORD(wParam) == ID_FIELD && HIWORD(wParam) == EN_CHANGE) SaveText();
            return 0;
        case WM_DESTROY:
            SaveText();
            PostQuitMessage(0);
            return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return 2;
    g_path = argv[1];
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_IBEAM));
    windowClass.lpszClassName = L"TarvexTextField";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, L"TarvexTextField", L"Text field", WS_OVERLAPPEDWINDOW, 40, 40, 400, 300, nullptr,
                                  nullptr, windowClass.hInstance, nullptr);
    ShowWindow(window, SW_SHOW);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
