// Typing on Windows: SendInput with each character as Unicode
// (KEYEVENTF_UNICODE), so the program in front gets the characters as
// written whatever the keyboard layout; the key after them as a key.

#include <windows.h>

#include <string>
#include <vector>

#include "outputs/typing/Keyboard.h"

namespace tarvex {
namespace {

std::wstring ProgramFileName(DWORD process) {
    HANDLE handle = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process);
    if (!handle) return {};
    wchar_t path[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    const bool named = QueryFullProcessImageNameW(handle, 0, path, &size) != 0;
    CloseHandle(handle);
    if (!named) return {};
    const std::wstring full(path, size);
    return full.substr(full.find_last_of(L"\\/") + 1);
}

INPUT KeyInput(WORD virtualKey, WORD unit, DWORD flags) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = virtualKey;
    input.ki.wScan = unit;
    input.ki.dwFlags = flags;
    return input;
}

class CWin32Keyboard final : public IKeyboard {
public:
    CWin32Keyboard() : m_programName(ProgramFileName(GetCurrentProcessId())) {}

    KeyboardHolder Holder() override {
        HWND front = GetForegroundWindow();
        if (!front) return KeyboardHolder::Nobody;
        DWORD process = 0;
        GetWindowThreadProcessId(front, &process);
        if (process == GetCurrentProcessId()) return KeyboardHolder::OwnWindow;
        // Another copy of this program is as much this program.
        if (!m_programName.empty() && _wcsicmp(ProgramFileName(process).c_str(), m_programName.c_str()) == 0)
            return KeyboardHolder::OwnWindow;
        return KeyboardHolder::Other;
    }

    bool ModifiersHeld() override {
        for (const int key : {VK_SHIFT, VK_CONTROL, VK_MENU, VK_LWIN, VK_RWIN})
            if (GetAsyncKeyState(key) & 0x8000) return true;
        return false;
    }

    bool Type(std::u32string_view text, TypedKey then) override {
        std::vector<INPUT> inputs;
        for (const char32_t c : text) {
            std::wstring units;
            if (c >= 0x10000) {
                units += static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
                units += static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
            } else {
                units += static_cast<wchar_t>(c);
            }
            for (const wchar_t unit : units) {
                inputs.push_back(KeyInput(0, static_cast<WORD>(unit), KEYEVENTF_UNICODE));
                inputs.push_back(KeyInput(0, static_cast<WORD>(unit), KEYEVENTF_UNICODE | KEYEVENTF_KEYUP));
            }
        }
        if (then != TypedKey::NoKey) {
            const WORD key = then == TypedKey::Enter ? VK_RETURN : VK_TAB;
            inputs.push_back(KeyInput(key, 0, 0));
            inputs.push_back(KeyInput(key, 0, KEYEVENTF_KEYUP));
        }
        // Fewer taken than given: another program's input was in the way
        // (or a program running with higher rights has the keyboard).
        return SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT)) == inputs.size();
    }

private:
    std::wstring m_programName;
};

}  // namespace

std::unique_ptr<IKeyboard> OpenDesktopKeyboard(KeyboardAbsence&) { return std::make_unique<CWin32Keyboard>(); }

}  // namespace tarvex
