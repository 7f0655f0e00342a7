// The key watched on X11: a passive grab of it on the root window, on a
// connection of the watching thread's own (XCB, so a key another program
// has grabbed is told as an answer, not as an error that ends the program).

#include <poll.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <thread>

#include "outputs/typing/HotKey.h"

namespace tarvex {
namespace {

constexpr uint32_t XK_F1 = 0xFFBE;  // the keysyms of F1 to F35 follow on

}  // namespace

struct CHotKey::Platform {
    xcb_connection_t* connection = nullptr;
    int stop[2] = {-1, -1};  // written to end the thread
    std::thread thread;

    ~Platform() {
        if (thread.joinable()) {
            const char end = 1;
            (void)!write(stop[1], &end, 1);
            thread.join();
        }
        for (const int fd : stop)
            if (fd >= 0) close(fd);
        if (connection) xcb_disconnect(connection);
    }

    xcb_keycode_t KeycodeOf(uint32_t keysym) {
        const xcb_setup_t* setup = xcb_get_setup(connection);
        const uint8_t count = static_cast<uint8_t>(setup->max_keycode - setup->min_keycode + 1);
        xcb_get_keyboard_mapping_reply_t* map = xcb_get_keyboard_mapping_reply(
            connection, xcb_get_keyboard_mapping(connection, setup->min_keycode, count), nullptr);
        if (!map) return 0;
        const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(map);
        xcb_keycode_t found = 0;
        for (int code = 0; code < count && !found; ++code)
            for (int level = 0; level < map->keysyms_per_keycode && !found; ++level)
                if (syms[code * map->keysyms_per_keycode + level] == keysym)
                    found = static_cast<xcb_keycode_t>(setup->min_keycode + code);
        free(map);
        return found;
    }
};

CHotKey::CHotKey(std::function<void()> pressed) : m_pressed(std::move(pressed)) {}
CHotKey::~CHotKey() = default;

bool CHotKey::Watch(int functionKey) {
    auto platform = std::make_unique<Platform>();
    int screenNumber = 0;
    platform->connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(platform->connection)) return false;
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(platform->connection));
    for (int i = 0; i < screenNumber && screens.rem; ++i) xcb_screen_next(&screens);
    if (!screens.rem) return false;
    const xcb_window_t root = screens.data->root;
    const xcb_keycode_t key = platform->KeycodeOf(XK_F1 + static_cast<uint32_t>(functionKey - 1));
    if (!key) return false;
    // Caps Lock and Num Lock on or off: the same key.
    constexpr std::array<uint16_t, 4> locks = {0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2,
                                               XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};
    for (const uint16_t mods : locks) {
        xcb_generic_error_t* error = xcb_request_check(
            platform->connection, xcb_grab_key_checked(platform->connection, 1, root, mods, key,
                                                       XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        if (error) {
            free(error);
            return false;  // another program has it
        }
    }
    if (pipe(platform->stop) != 0) return false;
    Platform* watching = platform.get();
    platform->thread = std::thread([this, watching, key] {
        pollfd fds[2] = {{xcb_get_file_descriptor(watching->connection), POLLIN, 0}, {watching->stop[0], POLLIN, 0}};
        for (;;) {
            while (xcb_generic_event_t* event = xcb_poll_for_event(watching->connection)) {
                // Told on the key's release: while it is down, the grab takes
                // every key, the typed ones too.
                const bool released = (event->response_type & 0x7F) == XCB_KEY_RELEASE &&
                                      reinterpret_cast<xcb_key_release_event_t*>(event)->detail == key;
                free(event);
                if (released) m_pressed();
            }
            if (xcb_connection_has_error(watching->connection)) return;
            if (poll(fds, 2, -1) < 0 && errno != EINTR) return;
            if (fds[1].revents) return;
        }
    });
    m_platform = std::move(platform);
    return true;
}

}  // namespace tarvex
