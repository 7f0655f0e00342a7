#pragma once
// A key the clerk presses anywhere on the desktop (On=Key of section
// "Wedge"): watched on a thread of its own, which tells of every press.

#include <functional>
#include <memory>
#include <optional>
#include <string_view>

namespace tarvex {

// F2 to F24 (F1 and F5 are this window's own keys); empty for any other name.
std::optional<int> FunctionKeyNamed(std::wstring_view name);

class CHotKey {
public:
    // pressed runs on the watching thread.
    explicit CHotKey(std::function<void()> pressed);
    ~CHotKey();
    CHotKey(const CHotKey&) = delete;
    CHotKey& operator=(const CHotKey&) = delete;

    // False when the desktop has no such key for us (another program
    // holds it, or there is no desktop).
    bool Watch(int functionKey);

    struct Platform;

private:
    std::function<void()> m_pressed;
    std::unique_ptr<Platform> m_platform;
};

}  // namespace tarvex
