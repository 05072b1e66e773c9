// A pointer for the seat of a wlroots compositor, driven by lines on standard input:
//   move X Y        absolute position on a 1024 x 768 output
//   button CODE 0|1 release or press a Linux button code
//   wheel STEPS     one discrete wheel event of STEPS notches
//   scroll VALUE    one continuous vertical scroll of VALUE (touchpad-like)
// Each line is sent as one pointer frame.
#include <wayland-client.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>

#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

namespace {

wl_seat* seat = nullptr;
zwlr_virtual_pointer_manager_v1* manager = nullptr;

void on_global(void*, wl_registry* registry, std::uint32_t name, const char* interface,
               std::uint32_t) {
    if (std::strcmp(interface, wl_seat_interface.name) == 0 && !seat) {
        seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    } else if (std::strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0) {
        manager = static_cast<zwlr_virtual_pointer_manager_v1*>(
            wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1));
    }
}

void on_global_remove(void*, wl_registry*, std::uint32_t) {}

const wl_registry_listener REGISTRY = {on_global, on_global_remove};

}  // namespace

int main() {
    wl_display* display = wl_display_connect(nullptr);
    if (!display) {
        std::fprintf(stderr, "no compositor\n");
        return 1;
    }
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &REGISTRY, nullptr);
    wl_display_roundtrip(display);
    if (!seat || !manager) {
        std::fprintf(stderr, "no virtual pointer manager\n");
        return 1;
    }
    zwlr_virtual_pointer_v1* pointer =
        zwlr_virtual_pointer_manager_v1_create_virtual_pointer(manager, seat);
    wl_display_roundtrip(display);
    std::uint32_t time = 1;
    for (std::string line; std::getline(std::cin, line);) {
        std::istringstream words(line);
        std::string action;
        words >> action;
        time += 10;
        if (action == "move") {
            std::uint32_t x = 0;
            std::uint32_t y = 0;
            words >> x >> y;
            zwlr_virtual_pointer_v1_motion_absolute(pointer, time, x, y, 1024, 768);
        } else if (action == "button") {
            std::uint32_t code = 0;
            std::uint32_t pressed = 0;
            words >> code >> pressed;
            zwlr_virtual_pointer_v1_button(pointer, time, code, pressed);
        } else if (action == "wheel") {
            int steps = 0;
            words >> steps;
            zwlr_virtual_pointer_v1_axis_source(pointer, WL_POINTER_AXIS_SOURCE_WHEEL);
            zwlr_virtual_pointer_v1_axis_discrete(pointer, time, WL_POINTER_AXIS_VERTICAL_SCROLL,
                                                  wl_fixed_from_int(steps * 15), steps);
        } else if (action == "scroll") {
            double value = 0;
            words >> value;
            zwlr_virtual_pointer_v1_axis_source(pointer, WL_POINTER_AXIS_SOURCE_FINGER);
            zwlr_virtual_pointer_v1_axis(pointer, time, WL_POINTER_AXIS_VERTICAL_SCROLL,
                                         wl_fixed_from_double(value));
        } else {
            continue;
        }
        zwlr_virtual_pointer_v1_frame(pointer);
        if (wl_display_roundtrip(display) < 0) {
            return 1;
        }
    }
    zwlr_virtual_pointer_v1_destroy(pointer);
    wl_display_roundtrip(display);
    wl_display_disconnect(display);
    return 0;
}
