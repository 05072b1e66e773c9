#pragma once

#include <X11/Xlib.h>

#include <cstddef>
#include <memory>
#include <type_traits>

namespace zelto {

// Every atom the backend uses. All are created when missing: a fresh server (Xvfb) has none of
// the window-manager or drag-and-drop atoms until some client makes them.
struct X11Atoms {
    Atom wm_protocols;
    Atom wm_delete_window;
    Atom net_wm_ping;
    Atom net_wm_state;
    Atom net_wm_state_maximized_horz;
    Atom net_wm_state_maximized_vert;
    Atom net_wm_state_fullscreen;
    Atom net_wm_state_demands_attention;
    Atom net_wm_window_type_normal;
    Atom net_wm_window_type;
    Atom net_wm_name;
    Atom net_wm_pid;
    Atom net_startup_info_begin;
    Atom net_startup_info;
    Atom motif_wm_hints;
    Atom kde_net_wm_blur_behind_region;
    Atom gtk_theme_variant;
    Atom incr;
    Atom targets;
    Atom clipboard;
    Atom text_uri_list;
    Atom text_plain;
    Atom text_plain_utf8;
    Atom utf8_string;
    Atom text;
    Atom xdnd_enter;
    Atom xdnd_type_list;
    Atom xdnd_position;
    Atom xdnd_leave;
    Atom xdnd_finished;
    Atom xdnd_status;
    Atom xdnd_drop;
    Atom xdnd_selection;
    Atom xdnd_action_copy;
    Atom xdnd_proxy;
    Atom xdnd_aware;
};

// The process's connection to the X server. `frame_interval_ms` must stay the first member:
// the App reads it through `get_backend_state` without knowing the backend.
struct X11Connection {
    double frame_interval_ms;
    Display* display;
    X11Atoms atoms;
    bool has_randr;
    int randr_event_base;
    long max_request_size;  // in 4-byte units, for selection transfers

    // Connects to the default display: null when there is none or its GLX is older than 1.3.
    static std::unique_ptr<X11Connection> open();

    // Paces frames by the screen's current refresh rate.
    void update_frame_interval();

    X11Connection(const X11Connection&) = delete;
    X11Connection& operator=(const X11Connection&) = delete;
    ~X11Connection();

  private:
    explicit X11Connection(Display* display);
};

static_assert(std::is_standard_layout_v<X11Connection>);
static_assert(offsetof(X11Connection, frame_interval_ms) == 0);

}  // namespace zelto
