// Typing on X11: the XTEST extension presses the keys. Each character is
// found on the keyboard layout in use, with Shift when the layout needs it
// (French digits); a character the layout lacks goes on a spare keycode,
// given back when typing is switched off or the program ends.

#include "outputs/typing/Keyboard.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tarvex {
namespace {

constexpr unsigned HELD_MODIFIERS = ShiftMask | ControlMask | Mod1Mask | Mod3Mask | Mod4Mask | Mod5Mask;

KeySym KeySymOf(char32_t c) {
    if ((c >= 0x20 && c <= 0x7E) || (c >= 0xA0 && c <= 0xFF)) return static_cast<KeySym>(c);
    return static_cast<KeySym>(0x01000000 | c);  // the Unicode keysyms
}

struct KeyStroke {
    KeyCode code = 0;
    bool shift = false;
};

class CX11Keyboard final : public IKeyboard {
public:
    explicit CX11Keyboard(Display* display) : m_display(display) {
        // Told when the layout changes, so it is read again only then.
        int opcode = 0, error = 0, major = XkbMajorVersion, minor = XkbMinorVersion;
        XkbQueryExtension(m_display, &opcode, &m_xkbEvent, &error, &major, &minor);
        const unsigned changes = XkbNewKeyboardNotifyMask | XkbMapNotifyMask;
        XkbSelectEvents(m_display, XkbUseCoreKbd, changes, changes);
        m_pidAtom = XInternAtom(m_display, "_NET_WM_PID", False);
        m_activeAtom = XInternAtom(m_display, "_NET_ACTIVE_WINDOW", False);
        char name[256] = {};
        const ssize_t length = readlink("/proc/self/exe", name, sizeof name - 1);
        if (length > 0) {
            std::string path(name, static_cast<size_t>(length));
            m_programName = path.substr(path.find_last_of('/') + 1);
        }
    }
    ~CX11Keyboard() override {
        GiveBackSpareKeys();
        if (m_xkb) XkbFreeKeyboard(m_xkb, 0, True);
        XCloseDisplay(m_display);
    }
    CX11Keyboard(const CX11Keyboard&) = delete;
    CX11Keyboard& operator=(const CX11Keyboard&) = delete;

    KeyboardHolder Holder() override;
    bool ModifiersHeld() override;
    bool Type(std::u32string_view text, TypedKey then) override;

private:
    Window FocusedWindow();
    std::optional<KeyboardHolder> HolderOf(Window window);
    // A property of one 32-bit item (a window, a number); 0 when it is not there.
    unsigned long OneValue(Window window, Atom property, Atom type);
    void Tap(const KeyStroke& key);
    // The layout in use: read again after it changed.
    XkbDescPtr Layout();
    // The spare keycodes this keyboard mapped, empty again (those a new
    // layout has not taken over already).
    void GiveBackSpareKeys();

    Display* m_display;
    Atom m_pidAtom = None;
    Atom m_activeAtom = None;
    std::string m_programName;  // a window of this name is another copy of the program
    KeyCode m_shift = 0;
    int m_xkbEvent = -1;
    XkbDescPtr m_xkb = nullptr;
    // Characters the layout lacks, on spare keycodes: kept while typing is
    // on, so a program in front that reads the mapping late never finds
    // the keycode emptied under a press.
    std::vector<std::pair<KeySym, KeyCode>> m_remapped;
};

void CX11Keyboard::GiveBackSpareKeys() {
    if (m_remapped.empty()) return;
    XkbDescPtr xkb = Layout();
    for (const auto& [sym, code] : m_remapped) {
        if (!xkb || XkbKeyNumSyms(xkb, code) == 0 || XkbKeySymsPtr(xkb, code)[0] != sym) continue;
        KeySym none = NoSymbol;
        XChangeKeyboardMapping(m_display, code, 1, &none, 1);
    }
    m_remapped.clear();
    XSync(m_display, False);
}

XkbDescPtr CX11Keyboard::Layout() {
    bool changed = m_xkb == nullptr;
    XSync(m_display, False);  // a change made before now has been told
    while (XPending(m_display) > 0) {
        XEvent event;
        XNextEvent(m_display, &event);
        if (event.type == m_xkbEvent) changed = true;
    }
    if (changed) {
        if (m_xkb) XkbFreeKeyboard(m_xkb, 0, True);
        m_xkb = XkbGetMap(m_display, XkbAllClientInfoMask, XkbUseCoreKbd);
        m_shift = XKeysymToKeycode(m_display, XK_Shift_L);
    }
    return m_xkb;
}

unsigned long CX11Keyboard::OneValue(Window window, Atom property, Atom type) {
    Atom typeFound = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(m_display, window, property, 0, 1, False, type, &typeFound, &format, &count, &after,
                           &data) != Success || !data)
        return 0;
    // Xlib hands 32-bit items over as longs.
    const unsigned long value = count == 1 ? *reinterpret_cast<unsigned long*>(data) : 0;
    XFree(data);
    return value;
}

Window CX11Keyboard::FocusedWindow() {
    Window focus = None;
    int revert = 0;
    XGetInputFocus(m_display, &focus, &revert);
    if (focus != PointerRoot) return focus;
    // Keys go where the pointer is: the window manager's active window
    // says which, else the window under the pointer.
    const Window root = DefaultRootWindow(m_display);
    if (const Window active = OneValue(root, m_activeAtom, XA_WINDOW); active != None) return active;
    Window rootReturn = None, child = None;
    int x = 0, y = 0, wx = 0, wy = 0;
    unsigned mask = 0;
    XQueryPointer(m_display, root, &rootReturn, &child, &x, &y, &wx, &wy, &mask);
    return child;
}

std::optional<KeyboardHolder> CX11Keyboard::HolderOf(Window window) {
    if (OneValue(window, m_pidAtom, XA_CARDINAL) == static_cast<unsigned long>(getpid()))
        return KeyboardHolder::OwnWindow;
    XClassHint hint{};
    if (!XGetClassHint(m_display, window, &hint)) return std::nullopt;
    const bool ours = !m_programName.empty() && hint.res_name && strcasecmp(hint.res_name, m_programName.c_str()) == 0;
    XFree(hint.res_name);
    XFree(hint.res_class);
    return ours ? KeyboardHolder::OwnWindow : KeyboardHolder::Other;
}

KeyboardHolder CX11Keyboard::Holder() {
    Window window = FocusedWindow();
    const Window root = DefaultRootWindow(m_display);
    // The focus may be a toolkit's inner window: its top-level window names
    // the program.
    while (window != None && window != root) {
        if (const auto holder = HolderOf(window)) return *holder;
        Window rootReturn = None, parent = None;
        Window* children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(m_display, window, &rootReturn, &parent, &children, &count)) break;
        if (children) XFree(children);
        window = parent;
    }
    return window == None || window == root ? KeyboardHolder::Nobody : KeyboardHolder::Other;
}

bool CX11Keyboard::ModifiersHeld() {
    XkbStateRec state{};
    if (XkbGetState(m_display, XkbUseCoreKbd, &state) != Success) return false;
    return (state.base_mods & HELD_MODIFIERS) != 0;
}

void CX11Keyboard::Tap(const KeyStroke& key) {
    if (key.shift) XTestFakeKeyEvent(m_display, m_shift, True, CurrentTime);
    XTestFakeKeyEvent(m_display, key.code, True, CurrentTime);
    XTestFakeKeyEvent(m_display, key.code, False, CurrentTime);
    if (key.shift) XTestFakeKeyEvent(m_display, m_shift, False, CurrentTime);
}

bool CX11Keyboard::Type(std::u32string_view text, TypedKey then) {
    // The clerk may switch the layout at any time.
    XkbDescPtr xkb = Layout();
    if (!xkb) return false;
    XkbStateRec state{};
    XkbGetState(m_display, XkbUseCoreKbd, &state);
    const auto find = [&](KeySym wanted) -> std::optional<KeyStroke> {
        for (const unsigned extra : {0u, static_cast<unsigned>(ShiftMask)}) {
            if (extra && !m_shift) break;
            for (int code = xkb->min_key_code; code <= xkb->max_key_code; ++code) {
                unsigned consumed = 0;
                KeySym produced = NoSymbol;
                const unsigned mods = XkbBuildCoreState(state.locked_mods | extra, state.group);
                if (XkbTranslateKeyCode(xkb, static_cast<KeyCode>(code), mods, &consumed, &produced) &&
                    produced == wanted)
                    return KeyStroke{static_cast<KeyCode>(code), extra != 0};
            }
        }
        return std::nullopt;
    };
    // Spare: a keycode that gives nothing (one given back after a remap
    // keeps a NoSymbol).
    std::vector<KeyCode> spare;
    for (int code = xkb->max_key_code; code >= xkb->min_key_code; --code) {
        const KeySym* syms = XkbKeySymsPtr(xkb, code);
        const int count = XkbKeyNumSyms(xkb, code);
        if (std::all_of(syms, syms + count, [](KeySym sym) { return sym == NoSymbol; }))
            spare.push_back(static_cast<KeyCode>(code));
    }

    std::vector<KeyStroke> presses;
    std::map<KeySym, KeyCode> mappedNow;
    size_t nextSpare = 0;
    for (const char32_t c : text) {
        const KeySym wanted = KeySymOf(c);
        if (auto press = find(wanted)) {
            presses.push_back(*press);
            continue;
        }
        auto mapped = mappedNow.find(wanted);
        if (mapped == mappedNow.end()) {
            if (nextSpare >= spare.size()) break;  // no room: none of it is typed
            KeySym both[2] = {wanted, wanted};
            const KeyCode code = spare[nextSpare++];
            XChangeKeyboardMapping(m_display, code, 2, both, 1);
            m_remapped.emplace_back(wanted, code);
            mapped = mappedNow.emplace(wanted, code).first;
        }
        presses.push_back(KeyStroke{mapped->second, false});
    }
    // All of a weight or none of it: a part would pass for another weight.
    if (presses.size() != text.size()) return false;
    if (then != TypedKey::NoKey) {
        const KeyCode code = XKeysymToKeycode(m_display, then == TypedKey::Enter ? XK_Return : XK_Tab);
        if (code) presses.push_back(KeyStroke{code, false});
    }
    // Every client hears of a new mapping before the first press that uses it.
    if (!mappedNow.empty()) XSync(m_display, False);
    for (const KeyStroke& press : presses) Tap(press);
    XSync(m_display, False);
    return true;
}

}  // namespace

std::unique_ptr<IKeyboard> OpenDesktopKeyboard(KeyboardAbsence& whyNot) {
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if (wayland && *wayland) {
        whyNot = KeyboardAbsence::Wayland;
        return nullptr;
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        whyNot = KeyboardAbsence::NoDesktop;
        return nullptr;
    }
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(display, &event, &error, &major, &minor)) {
        XCloseDisplay(display);
        whyNot = KeyboardAbsence::NoTypingSupport;
        return nullptr;
    }
    return std::make_unique<CX11Keyboard>(display);
}

}  // namespace tarvex
