// clang-format off
// The settings (through x11_logic.hpp) come before the X headers, whose macros (CursorShape)
// clash with their names.
#include "window/x11/x11_logic.hpp"
#include "window/x11/x11_connection.hpp"

#include <GL/glx.h>
#include <X11/extensions/Xrandr.h>
// clang-format on

#include <array>
#include <cstdlib>

#include "util/diagnostics.hpp"

namespace zelto {

namespace {

int on_protocol_error(Display* display, XErrorEvent* error) {
    std::array<char, 1024> text{};
    XGetErrorText(display, error->error_code, text.data(), static_cast<int>(text.size()));
    warn("X11 protocol error: %s (e: %d, m: %d, req: %d, XID: %lu, type: %d, s: %lu)\n",
         text.data(), error->error_code, error->minor_code, error->request_code, error->resourceid,
         error->type, error->serial);
    return 0;
}

int on_io_error(Display*) {
    fatal("fatal I/O error in Xlib");
}

bool glx_is_at_least_1_3(Display* display) {
    int major = 0;
    int minor = 0;
    if (!glXQueryVersion(display, &major, &minor)) {
        return false;
    }
    return major > 1 || (major == 1 && minor >= 3);
}

struct AtomName {
    Atom X11Atoms::*slot;
    const char* name;
};

constexpr AtomName ATOM_NAMES[] = {
    {&X11Atoms::wm_protocols, "WM_PROTOCOLS"},
    {&X11Atoms::wm_delete_window, "WM_DELETE_WINDOW"},
    {&X11Atoms::net_wm_ping, "_NET_WM_PING"},
    {&X11Atoms::net_wm_state, "_NET_WM_STATE"},
    {&X11Atoms::net_wm_state_maximized_horz, "_NET_WM_STATE_MAXIMIZED_HORZ"},
    {&X11Atoms::net_wm_state_maximized_vert, "_NET_WM_STATE_MAXIMIZED_VERT"},
    {&X11Atoms::net_wm_state_fullscreen, "_NET_WM_STATE_FULLSCREEN"},
    {&X11Atoms::net_wm_state_demands_attention, "_NET_WM_STATE_DEMANDS_ATTENTION"},
    {&X11Atoms::net_wm_window_type_normal, "_NET_WM_WINDOW_TYPE_NORMAL"},
    {&X11Atoms::net_wm_window_type, "_NET_WM_WINDOW_TYPE"},
    {&X11Atoms::net_wm_name, "_NET_WM_NAME"},
    {&X11Atoms::net_wm_pid, "_NET_WM_PID"},
    {&X11Atoms::net_startup_info_begin, "_NET_STARTUP_INFO_BEGIN"},
    {&X11Atoms::net_startup_info, "_NET_STARTUP_INFO"},
    {&X11Atoms::motif_wm_hints, "_MOTIF_WM_HINTS"},
    {&X11Atoms::kde_net_wm_blur_behind_region, "_KDE_NET_WM_BLUR_BEHIND_REGION"},
    {&X11Atoms::gtk_theme_variant, "_GTK_THEME_VARIANT"},
    {&X11Atoms::incr, "INCR"},
    {&X11Atoms::targets, "TARGETS"},
    {&X11Atoms::clipboard, "CLIPBOARD"},
    {&X11Atoms::text_uri_list, "text/uri-list"},
    {&X11Atoms::text_plain, "text/plain"},
    {&X11Atoms::text_plain_utf8, "text/plain;charset=utf-8"},
    {&X11Atoms::utf8_string, "UTF8_STRING"},
    {&X11Atoms::text, "TEXT"},
    {&X11Atoms::xdnd_enter, "XdndEnter"},
    {&X11Atoms::xdnd_type_list, "XdndTypeList"},
    {&X11Atoms::xdnd_position, "XdndPosition"},
    {&X11Atoms::xdnd_leave, "XdndLeave"},
    {&X11Atoms::xdnd_finished, "XdndFinished"},
    {&X11Atoms::xdnd_status, "XdndStatus"},
    {&X11Atoms::xdnd_drop, "XdndDrop"},
    {&X11Atoms::xdnd_selection, "XdndSelection"},
    {&X11Atoms::xdnd_action_copy, "XdndActionCopy"},
    {&X11Atoms::xdnd_proxy, "XdndProxy"},
    {&X11Atoms::xdnd_aware, "XdndAware"},
};

X11Atoms intern_atoms(Display* display) {
    constexpr std::size_t COUNT = std::size(ATOM_NAMES);
    static_assert(COUNT * sizeof(Atom) == sizeof(X11Atoms), "every atom has a name");
    std::array<char*, COUNT> names{};
    for (std::size_t i = 0; i < COUNT; ++i) {
        names[i] = const_cast<char*>(ATOM_NAMES[i].name);
    }
    std::array<Atom, COUNT> values{};
    XInternAtoms(display, names.data(), static_cast<int>(COUNT), False, values.data());
    X11Atoms atoms{};
    for (std::size_t i = 0; i < COUNT; ++i) {
        atoms.*ATOM_NAMES[i].slot = values[i];
    }
    return atoms;
}

double current_refresh_rate(Display* display) {
    XRRScreenConfiguration* config = XRRGetScreenInfo(display, DefaultRootWindow(display));
    if (!config) {
        return 0.0;
    }
    const short rate = XRRConfigCurrentRate(config);
    XRRFreeScreenConfigInfo(config);
    return rate;
}

}  // namespace

X11Connection::X11Connection(Display* display_)
    : frame_interval_ms(DEFAULT_FRAME_INTERVAL_MS),
      display(display_),
      atoms{},
      has_randr(false),
      randr_event_base(0),
      max_request_size(0) {}

std::unique_ptr<X11Connection> X11Connection::open() {
    XSetErrorHandler(on_protocol_error);
    XSetIOErrorHandler(on_io_error);
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        return nullptr;
    }
    std::unique_ptr<X11Connection> connection(new X11Connection(display));
    if (!glx_is_at_least_1_3(display)) {
        warn("GLX version to low\n");
        return nullptr;
    }
    if (!XSupportsLocale()) {
        fatal("Xorg does not support locales\n");
    }
    int randr_error_base = 0;
    if (XRRQueryExtension(display, &connection->randr_event_base, &randr_error_base)) {
        connection->has_randr = true;
        XRRSelectInput(display, DefaultRootWindow(display),
                       RRScreenChangeNotifyMask | RROutputChangeNotifyMask);
        connection->update_frame_interval();
    } else {
        warn("XRandR not supported by server\n");
    }
    connection->atoms = intern_atoms(display);
    const long extended = XExtendedMaxRequestSize(display);
    connection->max_request_size = (extended > 0 ? extended : XMaxRequestSize(display)) / 4;
    return connection;
}

void X11Connection::update_frame_interval() {
    frame_interval_ms = frame_interval_for_rate(current_refresh_rate(display));
}

X11Connection::~X11Connection() {
    XCloseDisplay(display);
}

}  // namespace zelto
