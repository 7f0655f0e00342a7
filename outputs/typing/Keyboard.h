#pragma once
// What typing into another program asks of the desktop: who has the
// keyboard, whether the clerk holds a modifier, and keys sent as if typed.
// One implementation per platform (KeyboardX11.cpp, KeyboardWin32.cpp);
// each is used by one thread only, the typing thread that opened it.

#include <memory>
#include <string_view>

namespace tarvex {

enum class KeyboardHolder {
    Other,      // another program: typing goes there
    OwnWindow,  // a window of this program (or of another copy of it)
    Nobody,     // no window has the keyboard
};

// The key typed after the text.
enum class TypedKey { NoKey, Enter, Tab };

class IKeyboard {
public:
    virtual ~IKeyboard() = default;
    virtual KeyboardHolder Holder() = 0;
    // Shift, Ctrl, Alt, AltGr or the Windows/Super key is held down.
    virtual bool ModifiersHeld() = 0;
    // The characters as written, whatever the keyboard layout, then the
    // key; false when the desktop refused them.
    virtual bool Type(std::u32string_view text, TypedKey then) = 0;
};

// Why there is no keyboard to type with.
enum class KeyboardAbsence {
    NoDesktop,        // no X display to type on
    Wayland,          // a Wayland session: typing would reach only the programs that run through X,
                      // and which window is in front cannot be seen
    NoTypingSupport,  // the X server lacks the XTEST extension
};

// The desktop's keyboard; empty, with the reason, where no program may
// type into another.
std::unique_ptr<IKeyboard> OpenDesktopKeyboard(KeyboardAbsence& whyNot);

}  // namespace tarvex
