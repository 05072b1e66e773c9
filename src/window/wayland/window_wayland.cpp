#include "window/wayland/window_wayland.hpp"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wayland-client.h>
#include <wayland-cursor.h>
#include <wayland-egl.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string_view>
#include <vector>

#include "blur-client-protocol.h"
#include "config/settings.hpp"
#include "gfx_gl2/ui_state.hpp"
#include "primary-selection-unstable-v1-client-protocol.h"
#include "util/diagnostics.hpp"
#include "window/wayland/wayland_keyboard.hpp"
#include "window/wayland/wayland_logic.hpp"
#include "window/wayland/wayland_outputs.hpp"
#include "window/wayland/wayland_selections.hpp"
#include "xdg-decoration-unstable-v1-client-protocol.h"
#include "xdg-shell-client-protocol.h"

namespace zelto {

class WindowWayland;

namespace {

constexpr const char* CURSOR_NAMES[12][2] = {
    {"default", "left_ptr"},
    {"text", "xterm"},
    {"pointer", "hand1"},
    {"n-resize", "top_side"},
    {"s-resize", "bottom_side"},
    {"w-resize", "left_side"},
    {"e-resize", "right_side"},
    {"nw-resize", "top_left_corner"},
    {"ne-resize", "top_right_corner"},
    {"sw-resize", "bottom_left_corner"},
    {"se-resize", "bottom_right_corner"},
    {"all-scroll", "fleur"},
};

void fatal_version(const char* interface, std::uint32_t required, std::uint32_t provided) {
    fatal("Wayland interface '%s' version to low. Required %u, provided %u.", interface, required,
          provided);
}

// A shared-memory file of `size` bytes, already unlinked; -1 when none could be made.
int create_shm_file(std::size_t size) {
    int fd = -1;
    for (int attempt = 0; attempt < 32 && fd < 0; ++attempt) {
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        const std::string name = shm_file_name(now.tv_nsec);
        fd = shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
        if (fd >= 0) {
            shm_unlink(name.c_str());
        } else if (errno != EEXIST) {
            return -1;
        }
    }
    if (fd < 0) {
        return -1;
    }
    int result = 0;
    do {
        result = ftruncate(fd, static_cast<off_t>(size));
    } while (result < 0 && errno == EINTR);
    if (result < 0) {
        close(fd);
        return -1;
    }
    return fd;
}

void release_output(wl_output* output) {
    if (wl_output_get_version(output) >= WL_OUTPUT_RELEASE_SINCE_VERSION) {
        wl_output_release(output);
    } else {
        wl_output_destroy(output);
    }
}

}  // namespace

// The process's connection to the compositor. The frame interval comes first: the App reads it
// through `get_backend_state`.
struct WaylandConnection {
    double frame_interval_ms = 16.6667;
    EGLDisplay egl_display = EGL_NO_DISPLAY;
    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    wl_compositor* compositor = nullptr;
    wl_subcompositor* subcompositor = nullptr;
    wl_shm* shm = nullptr;
    wl_output* last_output = nullptr;
    wl_data_device_manager* data_device_manager = nullptr;
    wl_data_device* data_device = nullptr;
    zwp_primary_selection_device_manager_v1* primary_selection_manager = nullptr;
    zwp_primary_selection_device_v1* primary_selection_device = nullptr;
    wl_seat* seat = nullptr;
    wl_pointer* pointer = nullptr;
    wl_keyboard* keyboard = nullptr;
    xdg_wm_base* wm_base = nullptr;
    wl_shell* shell = nullptr;
    zxdg_decoration_manager_v1* decoration_manager = nullptr;
    org_kde_kwin_blur_manager* blur_manager = nullptr;
    wl_cursor_theme* cursor_theme = nullptr;
    std::array<wl_cursor*, 12> cursors{};
    wl_surface* cursor_surface = nullptr;
    std::unique_ptr<WaylandKeyboard> xkb;
    std::uint32_t last_serial = 0;
    std::uint32_t pointer_enter_serial = 0;
    std::uint32_t pressed_button = 0;
    wl_surface* pointer_surface = nullptr;
    struct BoundOutput {
        std::uint32_t name = 0;  // the registry's name of the global
        wl_output* proxy = nullptr;
    };
    std::vector<BoundOutput> outputs;
};

class WindowWayland final : public Window, public WaylandWindowInfo {
  public:
    WindowWayland(std::uint32_t width, std::uint32_t height, UiState* ui_state);
    ~WindowWayland() override;

    bool connect();
    void set_up(WindowContextRequest context);

    void set_fullscreen(bool fullscreen) override;
    void set_maximized(bool maximized) override;
    void minimize() override;
    void resize(std::uint32_t width, std::uint32_t height) override;
    void events() override;
    std::optional<MonoTime> process_timers() override;
    void set_title(const std::string& title) override;
    bool swap_if_needed(bool allow_drawing) override;
    // The display and the clipboard's pipes together: either wakes the loop.
    int get_connection_fd() const override { return selections_.poll_fd(); }
    void clipboard_send(std::string text) override { selections_.clipboard_send(std::move(text)); }
    void clipboard_get() override { selections_.clipboard_get(); }
    void primary_send(std::string text) override { selections_.primary_send(std::move(text)); }
    void primary_get() override { selections_.primary_get(); }
    void set_swap_interval(int interval) override;
    void set_current_context(bool current) override;
    void set_incremental_resize(std::uint32_t, std::uint32_t) override {}
    void set_pointer_style(MousePointerStyle style) override;
    void* get_gl_proc_address(const char* name) override {
        return reinterpret_cast<void*>(eglGetProcAddress(name));
    }
    std::uint32_t get_keysym_from_name(const char* name) override {
        return WaylandKeyboard::key_value_from_name(name);
    }
    void set_urgent() override {}
    void raise_or_lower(bool) override {}
    std::int64_t get_window_id() const override { return -1; }
    void notify_startup_complete(const std::string&) override {}
    const void* get_backend_state() const override { return &c_; }

    bool client_side_decorations() const override { return csd_; }
    bool frame_arrived() const override { return frame_arrived_; }
    bool shadow_shown() const override { return shadow_buffer_ != nullptr; }
    bool has_pointer() const override { return c_.pointer != nullptr; }
    std::size_t live_offer_count() const override { return selections_.live_offer_count(); }
    std::size_t serving_count() const override { return selections_.serving_count(); }
    std::uint32_t bound_output_count() const override {
        return static_cast<std::uint32_t>(c_.outputs.size());
    }

    // Listener entry points.
    void on_global(wl_registry* registry, std::uint32_t name, const char* interface,
                   std::uint32_t version);
    void on_global_remove(std::uint32_t name);
    void on_seat_capabilities(std::uint32_t caps);
    void on_keymap(std::uint32_t format, int fd, std::uint32_t size);
    void on_keyboard_enter(std::uint32_t serial);
    void on_keyboard_leave(std::uint32_t serial);
    void on_key(std::uint32_t serial, std::uint32_t key, std::uint32_t state);
    void on_modifiers(std::uint32_t serial, std::uint32_t depressed, std::uint32_t latched,
                      std::uint32_t locked, std::uint32_t group);
    void on_repeat_info(std::int32_t rate, std::int32_t delay);
    void on_pointer_enter(std::uint32_t serial, wl_surface* surface, wl_fixed_t x, wl_fixed_t y);
    void on_pointer_leave(wl_surface* surface);
    void on_pointer_motion(wl_fixed_t x, wl_fixed_t y);
    void on_pointer_button(std::uint32_t serial, std::uint32_t code, std::uint32_t state);
    void on_axis(std::uint32_t axis, wl_fixed_t value);
    void on_axis_discrete(std::uint32_t axis, std::int32_t steps);
    void on_output_geometry(wl_output* output, std::int32_t mm_width, std::int32_t subpixel,
                            const char* model);
    void on_output_mode(wl_output* output, std::uint32_t flags, std::int32_t width,
                        std::int32_t refresh);
    void on_output_name(wl_output* output, const char* name);
    void on_output_done(wl_output* output);
    void on_surface_enter(wl_output* output);
    void on_surface_leave(wl_output* output);
    void on_xdg_surface_configure(std::uint32_t serial);
    void on_toplevel_configure(std::int32_t width, std::int32_t height, wl_array* states);
    void on_toplevel_close() { set_flag(WINDOW_IS_CLOSED, true); }
    void on_shell_configure(std::int32_t width, std::int32_t height);
    void on_frame_done();

  private:
    void bind_globals();
    void load_cursors();
    void create_egl_context(WindowContextRequest context);
    void create_surface();
    void create_shell_surface();
    void load_egl_extensions();
    void present_first_frame();
    void request_frame();
    void present(const std::optional<std::vector<DamageRect>>& damage);
    std::uint8_t buffer_age();
    void dispatch_pending();
    void report_initial_output();
    void make_current_output(const OutputEntry& entry);
    void resize_egl_window(std::uint32_t width, std::uint32_t height);
    void set_window_geometry();
    void apply_csd_mode(CsdMode mode);
    void show_shadow();
    void hide_shadow();
    bool draw_shadow_buffer();
    void show_cursor(std::uint32_t style);
    void report_key(const WaylandKeyReport& report);
    void release_input_devices();
    void create_selection_devices();

    WaylandConnection c_;
    bool connected_ = false;
    wl_surface* surface_ = nullptr;
    wl_shell_surface* shell_surface_ = nullptr;
    wl_egl_window* egl_window_ = nullptr;
    EGLSurface egl_surface_ = EGL_NO_SURFACE;
    EGLContext egl_context_ = EGL_NO_CONTEXT;
    EGLConfig egl_config_ = nullptr;
    PFNEGLSWAPBUFFERSWITHDAMAGEKHRPROC swap_with_damage_ = nullptr;
    bool has_buffer_age_ = false;
    xdg_surface* xdg_surface_ = nullptr;
    xdg_toplevel* toplevel_ = nullptr;
    zxdg_toplevel_decoration_v1* decoration_ = nullptr;
    wl_callback* frame_callback_ = nullptr;
    org_kde_kwin_blur* blur_ = nullptr;
    OutputTracker outputs_;
    bool initial_output_reported_ = false;
    bool csd_ = false;
    CsdMode csd_mode_ = CSD_MODE_SHADOW;
    wl_surface* shadow_surface_ = nullptr;
    wl_subsurface* shadow_subsurface_ = nullptr;
    wl_buffer* shadow_buffer_ = nullptr;
    std::uint32_t shadow_w_ = 0;  // window size the shadow buffer was drawn for
    std::uint32_t shadow_h_ = 0;
    bool frame_arrived_ = false;
    bool configured_ = false;
    std::uint32_t title_press_serial_ = 0;
    bool title_press_ = false;
    WheelTranslator wheel_;
    bool globals_bound_ = false;
    WaylandSelections selections_{*this, c_.last_serial};
};

namespace {

WindowWayland* self(void* data) {
    return static_cast<WindowWayland*>(data);
}

const wl_registry_listener REGISTRY_LISTENER = {
    [](void* data, wl_registry* registry, std::uint32_t name, const char* interface,
       std::uint32_t version) { self(data)->on_global(registry, name, interface, version); },
    [](void* data, wl_registry*, std::uint32_t name) { self(data)->on_global_remove(name); },
};

const wl_seat_listener SEAT_LISTENER = {
    [](void* data, wl_seat*, std::uint32_t caps) { self(data)->on_seat_capabilities(caps); },
    [](void*, wl_seat*, const char*) {},
};

const wl_keyboard_listener KEYBOARD_LISTENER = {
    [](void* data, wl_keyboard*, std::uint32_t format, int fd, std::uint32_t size) {
        self(data)->on_keymap(format, fd, size);
    },
    [](void* data, wl_keyboard*, std::uint32_t serial, wl_surface*, wl_array*) {
        self(data)->on_keyboard_enter(serial);
    },
    [](void* data, wl_keyboard*, std::uint32_t serial, wl_surface*) {
        self(data)->on_keyboard_leave(serial);
    },
    [](void* data, wl_keyboard*, std::uint32_t serial, std::uint32_t, std::uint32_t key,
       std::uint32_t state) { self(data)->on_key(serial, key, state); },
    [](void* data, wl_keyboard*, std::uint32_t serial, std::uint32_t depressed,
       std::uint32_t latched, std::uint32_t locked, std::uint32_t group) {
        self(data)->on_modifiers(serial, depressed, latched, locked, group);
    },
    [](void* data, wl_keyboard*, std::int32_t rate, std::int32_t delay) {
        self(data)->on_repeat_info(rate, delay);
    },
};

const wl_pointer_listener POINTER_LISTENER = {
    [](void* data, wl_pointer*, std::uint32_t serial, wl_surface* surface, wl_fixed_t x,
       wl_fixed_t y) { self(data)->on_pointer_enter(serial, surface, x, y); },
    [](void* data, wl_pointer*, std::uint32_t, wl_surface* surface) {
        self(data)->on_pointer_leave(surface);
    },
    [](void* data, wl_pointer*, std::uint32_t, wl_fixed_t x, wl_fixed_t y) {
        self(data)->on_pointer_motion(x, y);
    },
    [](void* data, wl_pointer*, std::uint32_t serial, std::uint32_t, std::uint32_t button,
       std::uint32_t state) { self(data)->on_pointer_button(serial, button, state); },
    [](void* data, wl_pointer*, std::uint32_t, std::uint32_t axis, wl_fixed_t value) {
        self(data)->on_axis(axis, value);
    },
    [](void*, wl_pointer*) {},
    [](void*, wl_pointer*, std::uint32_t) {},
    [](void*, wl_pointer*, std::uint32_t, std::uint32_t) {},
    [](void* data, wl_pointer*, std::uint32_t axis, std::int32_t steps) {
        self(data)->on_axis_discrete(axis, steps);
    },
    [](void*, wl_pointer*, std::uint32_t, std::int32_t) {},
};

const wl_output_listener OUTPUT_LISTENER = {
    [](void* data, wl_output* output, std::int32_t, std::int32_t, std::int32_t mm_width,
       std::int32_t, std::int32_t subpixel, const char*, const char* model,
       std::int32_t) { self(data)->on_output_geometry(output, mm_width, subpixel, model); },
    [](void* data, wl_output* output, std::uint32_t flags, std::int32_t width, std::int32_t,
       std::int32_t refresh) { self(data)->on_output_mode(output, flags, width, refresh); },
    [](void* data, wl_output* output) { self(data)->on_output_done(output); },
    [](void*, wl_output*, std::int32_t) {},
    [](void* data, wl_output* output, const char* name) {
        self(data)->on_output_name(output, name);
    },
    [](void*, wl_output*, const char*) {},
};

const xdg_wm_base_listener WM_BASE_LISTENER = {
    [](void*, xdg_wm_base* base, std::uint32_t serial) { xdg_wm_base_pong(base, serial); },
};

const xdg_surface_listener XDG_SURFACE_LISTENER = {
    [](void* data, xdg_surface*, std::uint32_t serial) {
        self(data)->on_xdg_surface_configure(serial);
    },
};

const xdg_toplevel_listener TOPLEVEL_LISTENER = {
    [](void* data, xdg_toplevel*, std::int32_t width, std::int32_t height, wl_array* states) {
        self(data)->on_toplevel_configure(width, height, states);
    },
    [](void* data, xdg_toplevel*) { self(data)->on_toplevel_close(); },
    [](void*, xdg_toplevel*, std::int32_t, std::int32_t) {},
    [](void*, xdg_toplevel*, wl_array*) {},
};

const wl_shell_surface_listener SHELL_SURFACE_LISTENER = {
    [](void*, wl_shell_surface* surface, std::uint32_t serial) {
        wl_shell_surface_pong(surface, serial);
    },
    [](void* data, wl_shell_surface*, std::uint32_t, std::int32_t width, std::int32_t height) {
        self(data)->on_shell_configure(width, height);
    },
    [](void*, wl_shell_surface*) {},
};

const wl_surface_listener SURFACE_LISTENER = {
    [](void* data, wl_surface*, wl_output* output) { self(data)->on_surface_enter(output); },
    [](void* data, wl_surface*, wl_output* output) { self(data)->on_surface_leave(output); },
};

const wl_callback_listener FRAME_LISTENER = {
    [](void* data, wl_callback*, std::uint32_t) { self(data)->on_frame_done(); },
};

const zxdg_toplevel_decoration_v1_listener DECORATION_LISTENER = {
    [](void*, zxdg_toplevel_decoration_v1*, std::uint32_t) {},
};

}  // namespace

WindowWayland::WindowWayland(std::uint32_t width, std::uint32_t height, UiState* ui_state) {
    w = width;
    h = height;
    ui = ui_state;
    state_flags = WINDOW_IS_FOCUSED | WINDOW_IS_MINIMIZED;
}

bool WindowWayland::connect() {
    c_.display = wl_display_connect(nullptr);
    if (!c_.display) {
        return false;
    }
    connected_ = true;
    selections_.connect(c_.display);
    c_.xkb = std::make_unique<WaylandKeyboard>();
    return true;
}

void WindowWayland::set_up(WindowContextRequest context) {
    bind_globals();
    globals_bound_ = true;
    create_selection_devices();
    if (!c_.primary_selection_manager) {
        warn("%s not supported by compositor\n", "zwp_primary_selection_device_manager_v1");
    }
    load_cursors();
    create_egl_context(context);
    create_surface();
    create_shell_surface();
    if (!eglMakeCurrent(c_.egl_display, egl_surface_, egl_surface_, egl_context_)) {
        fatal("failed to create EGL context %s", "");
    }
    load_egl_extensions();
    if (settings().bg_blur && c_.blur_manager) {
        blur_ = org_kde_kwin_blur_manager_create(c_.blur_manager, surface_);
        org_kde_kwin_blur_commit(blur_);
    }
    set_title(settings().title);
    if (toplevel_) {
        xdg_toplevel_set_app_id(toplevel_, protocol_text(settings().app_id).c_str());
    } else if (shell_surface_) {
        wl_shell_surface_set_class(shell_surface_, protocol_text(settings().app_id).c_str());
    }
    present_first_frame();
    events();
    paint = true;
}

void WindowWayland::bind_globals() {
    c_.registry = wl_display_get_registry(c_.display);
    wl_registry_add_listener(c_.registry, &REGISTRY_LISTENER, this);
    wl_display_roundtrip(c_.display);
    // The outputs bound above describe themselves in a second round.
    wl_display_roundtrip(c_.display);
    if (!c_.compositor) {
        fatal("Wayland interface '%s' not offered by the compositor", "wl_compositor");
    }
    const Decorations decorations = settings().decorations;
    if (!c_.decoration_manager && decorations != DECORATIONS_NONE) {
        h += CSD_TITLE_BAR_RESERVATION;
    }
}

void WindowWayland::on_global(wl_registry* registry, std::uint32_t name, const char* interface,
                              std::uint32_t version) {
    const std::string_view iface = interface;
    auto bind = [&](const wl_interface* type, std::uint32_t bound) {
        return wl_registry_bind(registry, name, type, bound);
    };
    auto require = [&](std::uint32_t required) {
        if (version < required) {
            fatal_version(interface, required, version);
        }
    };
    if (iface == wl_compositor_interface.name) {
        require(4);
        c_.compositor = static_cast<wl_compositor*>(bind(&wl_compositor_interface, 4));
    } else if (iface == wl_shell_interface.name) {
        c_.shell = static_cast<wl_shell*>(bind(&wl_shell_interface, 1));
    } else if (iface == xdg_wm_base_interface.name) {
        require(2);
        c_.wm_base = static_cast<xdg_wm_base*>(bind(&xdg_wm_base_interface, 2));
        xdg_wm_base_add_listener(c_.wm_base, &WM_BASE_LISTENER, this);
    } else if (iface == wl_seat_interface.name) {
        require(5);
        if (c_.seat) {
            return;  // one seat is enough for a terminal
        }
        c_.seat = static_cast<wl_seat*>(bind(&wl_seat_interface, 5));
        wl_seat_add_listener(c_.seat, &SEAT_LISTENER, this);
        if (globals_bound_) {
            create_selection_devices();
        }
    } else if (iface == wl_output_interface.name) {
        require(2);
        // Version 4 names the connector ("DP-1"), which output rules match.
        auto* output =
            static_cast<wl_output*>(bind(&wl_output_interface, version >= 4 ? 4 : version));
        wl_output_add_listener(output, &OUTPUT_LISTENER, this);
        c_.last_output = output;
        c_.outputs.push_back({name, output});
    } else if (iface == zxdg_decoration_manager_v1_interface.name) {
        c_.decoration_manager = static_cast<zxdg_decoration_manager_v1*>(
            bind(&zxdg_decoration_manager_v1_interface, 1));
    } else if (iface == wl_shm_interface.name) {
        c_.shm = static_cast<wl_shm*>(bind(&wl_shm_interface, 1));
    } else if (iface == wl_data_device_manager_interface.name) {
        require(3);
        c_.data_device_manager =
            static_cast<wl_data_device_manager*>(bind(&wl_data_device_manager_interface, 3));
        if (globals_bound_) {
            create_selection_devices();
        }
    } else if (iface == zwp_primary_selection_device_manager_v1_interface.name) {
        c_.primary_selection_manager = static_cast<zwp_primary_selection_device_manager_v1*>(
            bind(&zwp_primary_selection_device_manager_v1_interface, 1));
        if (globals_bound_) {
            create_selection_devices();
        }
    } else if (iface == org_kde_kwin_blur_manager_interface.name) {
        c_.blur_manager =
            static_cast<org_kde_kwin_blur_manager*>(bind(&org_kde_kwin_blur_manager_interface, 1));
    } else if (iface == wl_subcompositor_interface.name) {
        c_.subcompositor = static_cast<wl_subcompositor*>(bind(&wl_subcompositor_interface, 1));
    }
}

// An unplugged output goes away with its description, so it can never become the window's output
// again.
// The selection devices belong to a seat: a compositor without one gets none, and they are made
// as soon as a seat appears.
void WindowWayland::create_selection_devices() {
    if (!c_.seat) {
        return;
    }
    if (c_.data_device_manager && !c_.data_device) {
        c_.data_device = wl_data_device_manager_get_data_device(c_.data_device_manager, c_.seat);
        selections_.listen(c_.data_device_manager, c_.data_device);
    }
    if (c_.primary_selection_manager && !c_.primary_selection_device) {
        c_.primary_selection_device = zwp_primary_selection_device_manager_v1_get_device(
            c_.primary_selection_manager, c_.seat);
        selections_.listen(c_.primary_selection_manager, c_.primary_selection_device);
    }
}

void WindowWayland::on_global_remove(std::uint32_t name) {
    auto it = std::find_if(
        c_.outputs.begin(), c_.outputs.end(),
        [&](const WaylandConnection::BoundOutput& output) { return output.name == name; });
    if (it == c_.outputs.end()) {
        return;
    }
    wl_output* proxy = it->proxy;
    c_.outputs.erase(it);
    outputs_.forget(proxy);
    release_output(proxy);
    if (c_.last_output == proxy) {
        c_.last_output = c_.outputs.empty() ? nullptr : c_.outputs.back().proxy;
    }
}

void WindowWayland::load_cursors() {
    if (!c_.shm) {
        warn("Failed to load cursor theme\n");
        return;
    }
    const char* size_text = std::getenv("XCURSOR_SIZE");
    int size = size_text ? std::atoi(size_text) : 0;
    if (size <= 0) {
        size = 16;
    }
    c_.cursor_theme = wl_cursor_theme_load(std::getenv("XCURSOR_THEME"), size, c_.shm);
    if (!c_.cursor_theme) {
        warn("Failed to load cursor theme\n");
        return;
    }
    for (std::size_t i = 0; i < c_.cursors.size(); ++i) {
        wl_cursor* cursor = wl_cursor_theme_get_cursor(c_.cursor_theme, CURSOR_NAMES[i][0]);
        if (!cursor) {
            cursor = wl_cursor_theme_get_cursor(c_.cursor_theme, CURSOR_NAMES[i][1]);
        }
        if (!cursor) {
            warn("failed to load cursor `%s`\n", CURSOR_NAMES[i][1]);
        }
        c_.cursors[i] = cursor;
    }
    c_.cursor_surface = wl_compositor_create_surface(c_.compositor);
}

void WindowWayland::create_egl_context(WindowContextRequest context) {
    // Refused before the driver is touched.
    if (context.api == WINDOW_API_VULKAN) {
        fatal("vulkan context not implemented for wayland\n");
    }
    c_.egl_display = eglGetPlatformDisplay(EGL_PLATFORM_WAYLAND_KHR, c_.display, nullptr);
    EGLint major = 0;
    EGLint minor = 0;
    if (c_.egl_display == EGL_NO_DISPLAY || !eglInitialize(c_.egl_display, &major, &minor)) {
        fatal("EGL init error %s", "");
    }
    const bool es = context.api == WINDOW_API_GLES;
    if (!eglBindAPI(es ? EGL_OPENGL_ES_API : EGL_OPENGL_API)) {
        fatal("EGL API binding error %s", "");
    }
    const EGLint renderable = es ? EGL_OPENGL_ES2_BIT : EGL_OPENGL_BIT;
    const EGLint config_attributes[] = {
        EGL_SURFACE_TYPE,
        EGL_WINDOW_BIT,
        EGL_RED_SIZE,
        8,
        EGL_GREEN_SIZE,
        8,
        EGL_BLUE_SIZE,
        8,
        EGL_ALPHA_SIZE,
        8,
        EGL_RENDERABLE_TYPE,
        renderable,
        EGL_NONE,
    };
    EGLint count = 0;
    if (!eglChooseConfig(c_.egl_display, config_attributes, &egl_config_, 1, &count) || count < 1) {
        fatal("failed to create EGL context %s", "");
    }
    const EGLint context_attributes[] = {
        EGL_CONTEXT_MAJOR_VERSION,
        static_cast<EGLint>(context.major),
        EGL_CONTEXT_MINOR_VERSION,
        static_cast<EGLint>(context.minor),
        EGL_NONE,
    };
    egl_context_ =
        eglCreateContext(c_.egl_display, egl_config_, EGL_NO_CONTEXT, context_attributes);
    if (egl_context_ == EGL_NO_CONTEXT) {
        fatal("failed to create EGL context %s", "");
    }
}

void WindowWayland::create_surface() {
    surface_ = wl_compositor_create_surface(c_.compositor);
    egl_window_ = wl_egl_window_create(surface_, static_cast<int>(w), static_cast<int>(h));
    egl_surface_ =
        eglCreatePlatformWindowSurface(c_.egl_display, egl_config_, egl_window_, nullptr);
    if (egl_surface_ == EGL_NO_SURFACE) {
        fatal("failed to create EGL context %s", "");
    }
    eglSurfaceAttrib(c_.egl_display, egl_surface_, EGL_SWAP_BEHAVIOR, EGL_BUFFER_DESTROYED);
}

void WindowWayland::create_shell_surface() {
    if (!c_.wm_base) {
        warn("xdg_shell_v1 not supported by compositor, falling back to wl_shell\n");
        if (!c_.shell) {
            fatal("Wayland interface '%s' not offered by the compositor", "wl_shell");
        }
        shell_surface_ = wl_shell_get_shell_surface(c_.shell, surface_);
        wl_shell_surface_add_listener(shell_surface_, &SHELL_SURFACE_LISTENER, this);
        wl_shell_surface_set_toplevel(shell_surface_);
        wl_surface_add_listener(surface_, &SURFACE_LISTENER, this);
        return;
    }
    xdg_surface_ = xdg_wm_base_get_xdg_surface(c_.wm_base, surface_);
    xdg_surface_add_listener(xdg_surface_, &XDG_SURFACE_LISTENER, this);
    toplevel_ = xdg_surface_get_toplevel(xdg_surface_);
    xdg_toplevel_add_listener(toplevel_, &TOPLEVEL_LISTENER, this);
    const Settings& s = settings();
    if (s.decorations != DECORATIONS_NONE) {
        if (!c_.decoration_manager || s.force_csd) {
            csd_ = true;
        } else {
            decoration_ = zxdg_decoration_manager_v1_get_toplevel_decoration(c_.decoration_manager,
                                                                             toplevel_);
            zxdg_toplevel_decoration_v1_add_listener(decoration_, &DECORATION_LISTENER, this);
            zxdg_toplevel_decoration_v1_set_mode(decoration_,
                                                 ZXDG_TOPLEVEL_DECORATION_V1_MODE_SERVER_SIDE);
        }
    }
    wl_surface_commit(surface_);
    wl_surface_add_listener(surface_, &SURFACE_LISTENER, this);
    wl_display_roundtrip(c_.display);
}

void WindowWayland::load_egl_extensions() {
    const char* extensions = eglQueryString(c_.egl_display, EGL_EXTENSIONS);
    const std::string_view list = extensions ? extensions : "";
    if (list.find("EGL_KHR_swap_buffers_with_damage") != std::string_view::npos) {
        swap_with_damage_ = reinterpret_cast<PFNEGLSWAPBUFFERSWITHDAMAGEKHRPROC>(
            eglGetProcAddress("eglSwapBuffersWithDamageKHR"));
    } else {
        warn("EGL_KHR_swap_buffers_with_damage is not supported\n");
    }
    has_buffer_age_ = list.find("EGL_EXT_buffer_age") != std::string_view::npos;
    if (eglGetError() != EGL_SUCCESS) {
        warn("EGL Error %s\n", "");
    }
}

// The first frame is only a clear: the App draws the real one once it has wired its callbacks.
void WindowWayland::present_first_frame() {
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    request_frame();
    present(std::nullopt);
}

void WindowWayland::request_frame() {
    if (frame_callback_) {
        wl_callback_destroy(frame_callback_);
    }
    frame_callback_ = wl_surface_frame(surface_);
    wl_callback_add_listener(frame_callback_, &FRAME_LISTENER, this);
}

void WindowWayland::on_frame_done() {
    wl_callback_destroy(frame_callback_);
    frame_callback_ = nullptr;
    frame_arrived_ = true;
}

std::uint8_t WindowWayland::buffer_age() {
    if (!has_buffer_age_) {
        return 0;
    }
    EGLint age = 0;
    if (!eglQuerySurface(c_.egl_display, egl_surface_, EGL_BUFFER_AGE_EXT, &age)) {
        eglGetError();
        return 0;
    }
    return static_cast<std::uint8_t>(age < 0 ? 0 : (age > 255 ? 255 : age));
}

void WindowWayland::present(const std::optional<std::vector<DamageRect>>& damage) {
    EGLBoolean swapped = EGL_FALSE;
    if (swap_with_damage_ && damage && !damage->empty()) {
        std::vector<EGLint> rects;
        rects.reserve(damage->size() * 4);
        for (const DamageRect& rect : *damage) {
            rects.insert(rects.end(), {rect.x, rect.y, rect.width, rect.height});
        }
        swapped = swap_with_damage_(c_.egl_display, egl_surface_, rects.data(),
                                    static_cast<EGLint>(damage->size()));
    } else {
        swapped = eglSwapBuffers(c_.egl_display, egl_surface_);
    }
    if (!swapped) {
        fatal("EGL buffer swap failed: %s\n", "");
    }
}

bool WindowWayland::swap_if_needed(bool allow_drawing) {
    if (!frame_arrived_ || !paint || !allow_drawing) {
        dispatch_pending();
        wl_display_flush(c_.display);
        return false;
    }
    paint = false;
    frame_arrived_ = false;
    const std::uint8_t age = buffer_age();
    std::optional<std::vector<DamageRect>> damage;
    if (callbacks) {
        damage = callbacks->draw(age);
    }
    // The swap commits the surface; the frame request must be part of that commit, or the
    // compositor never answers it and drawing stalls.
    request_frame();
    present(damage);
    // The swap may have read our events off the socket while waiting for its own: handle them
    // now, as the main loop's poll only sees what is still unread.
    dispatch_pending();
    wl_display_flush(c_.display);
    return true;
}

void WindowWayland::dispatch_pending() {
    if (wl_display_dispatch_pending(c_.display) < 0) {
        fatal("wl_display_dispatch_pending() failed");
    }
}

void WindowWayland::events() {
    report_initial_output();
    selections_.service();
    while (wl_display_prepare_read(c_.display) != 0) {
        dispatch_pending();
    }
    wl_display_flush(c_.display);
    pollfd readable{wl_display_get_fd(c_.display), POLLIN, 0};
    if (poll(&readable, 1, 0) > 0) {
        if (wl_display_read_events(c_.display) < 0) {
            fatal("wl_display_dispatch_pending() failed");
        }
    } else {
        wl_display_cancel_read(c_.display);
    }
    dispatch_pending();
    wl_display_flush(c_.display);
}

void WindowWayland::report_initial_output() {
    if (initial_output_reported_ || outputs_.size() != 1 || !outputs_.current() || !callbacks) {
        return;
    }
    initial_output_reported_ = true;
    callbacks->on_output_changed(output_index, output_name, output_subpixel, output_dpi);
}

std::optional<MonoTime> WindowWayland::process_timers() {
    const MonoTime now = mono_now();
    if (auto report = c_.xkb->repeat_due(now)) {
        report_key(*report);
    }
    selections_.expire(now);
    const std::optional<MonoTime> repeat = c_.xkb->repeat().deadline();
    const std::optional<MonoTime> transfer = selections_.next_deadline();
    if (repeat && transfer) {
        return std::min(*repeat, *transfer);
    }
    return repeat ? repeat : transfer;
}

// Titles come from the programs in the terminal: whatever they are, the request must stay
// valid, or the compositor drops the connection.
void WindowWayland::set_title(const std::string& title) {
    const std::string text = protocol_text(title);
    if (toplevel_) {
        xdg_toplevel_set_title(toplevel_, text.c_str());
    } else if (shell_surface_) {
        wl_shell_surface_set_title(shell_surface_, text.c_str());
    }
}

void WindowWayland::set_swap_interval(int interval) {
    if (interval < 0 || interval > 1) {
        warn("Buffer swap interval clamped [%d, %d]\n", 0, 1);
        interval = interval < 0 ? 0 : 1;
    }
    eglSwapInterval(c_.egl_display, interval);
}

void WindowWayland::set_current_context(bool current) {
    if (current) {
        eglMakeCurrent(c_.egl_display, egl_surface_, egl_surface_, egl_context_);
    } else {
        eglMakeCurrent(c_.egl_display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    }
}

void WindowWayland::resize_egl_window(std::uint32_t width, std::uint32_t height) {
    w = width;
    h = height;
    wl_egl_window_resize(egl_window_, static_cast<int>(width), static_cast<int>(height), 0, 0);
}

void WindowWayland::resize(std::uint32_t width, std::uint32_t height) {
    resize_egl_window(width, height);
    previous_w = 0;
    previous_h = 0;
    paint = true;
    // No configure follows a resize of our own: the decorations follow the new size here.
    if (csd_ && csd_mode_ != CSD_MODE_NONE) {
        if (csd_mode_ == CSD_MODE_SHADOW && shadow_surface_) {
            draw_shadow_buffer();
            wl_surface_commit(shadow_surface_);
        }
        set_window_geometry();
    }
}

void WindowWayland::set_fullscreen(bool fullscreen) {
    if (fullscreen) {
        if (has_flag(WINDOW_IS_FULLSCREEN)) {
            return;
        }
        previous_w = w;
        previous_h = h;
        if (toplevel_) {
            xdg_toplevel_set_fullscreen(toplevel_,
                                        static_cast<wl_output*>(outputs_.fullscreen_output()));
        } else if (shell_surface_) {
            wl_shell_surface_set_fullscreen(
                shell_surface_, WL_SHELL_SURFACE_FULLSCREEN_METHOD_DRIVER, 0, c_.last_output);
        }
        set_flag(WINDOW_IS_FULLSCREEN, true);
        return;
    }
    if (!has_flag(WINDOW_IS_FULLSCREEN)) {
        return;
    }
    if (toplevel_) {
        xdg_toplevel_unset_fullscreen(toplevel_);
    } else if (shell_surface_) {
        wl_shell_surface_set_toplevel(shell_surface_);
    }
    set_flag(WINDOW_IS_FULLSCREEN, false);
    if (previous_w && previous_h) {
        resize_egl_window(previous_w, previous_h);
        paint = true;
    }
}

void WindowWayland::set_maximized(bool maximized) {
    if (maximized) {
        if (has_flag(WINDOW_IS_FULLSCREEN)) {
            set_fullscreen(false);
        } else {
            previous_w = w;
            previous_h = h;
        }
        if (toplevel_) {
            xdg_toplevel_set_maximized(toplevel_);
        } else if (shell_surface_) {
            wl_shell_surface_set_maximized(shell_surface_, c_.last_output);
        }
        set_flag(WINDOW_IS_MAXIMIZED, true);
        return;
    }
    if (toplevel_) {
        xdg_toplevel_unset_maximized(toplevel_);
    } else if (shell_surface_) {
        wl_shell_surface_set_toplevel(shell_surface_);
    }
    set_flag(WINDOW_IS_MAXIMIZED, false);
    if (previous_w && previous_h) {
        resize_egl_window(previous_w, previous_h);
        paint = true;
    }
}

void WindowWayland::minimize() {
    if (toplevel_) {
        xdg_toplevel_set_minimized(toplevel_);
    }
    set_flag(WINDOW_IS_MINIMIZED, true);
}

void WindowWayland::on_seat_capabilities(std::uint32_t caps) {
    if (c_.pointer) {
        wl_pointer_release(c_.pointer);
        c_.pointer = nullptr;
        c_.pointer_surface = nullptr;
    }
    if (caps & WL_SEAT_CAPABILITY_POINTER) {
        c_.pointer = wl_seat_get_pointer(c_.seat);
        wl_pointer_add_listener(c_.pointer, &POINTER_LISTENER, this);
    }
    if (caps & WL_SEAT_CAPABILITY_KEYBOARD) {
        if (c_.keyboard) {
            wl_keyboard_release(c_.keyboard);
        }
        c_.keyboard = wl_seat_get_keyboard(c_.seat);
        wl_keyboard_add_listener(c_.keyboard, &KEYBOARD_LISTENER, this);
    } else if (c_.keyboard) {
        // The keyboard went away: a held key must not repeat forever.
        wl_keyboard_release(c_.keyboard);
        c_.keyboard = nullptr;
        c_.xkb->stop_repeat();
    } else {
        warn("No keyboard capability found for seat\n");
    }
}

void WindowWayland::on_keymap(std::uint32_t format, int fd, std::uint32_t size) {
    if (format != WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1) {
        close(fd);
        return;
    }
    // A size past the end of the file would fault when the keymap is read.
    struct stat info {};
    const bool fits = fstat(fd, &info) == 0 && size > 0 && size <= info.st_size;
    void* text = fits ? mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0) : MAP_FAILED;
    close(fd);
    if (text == MAP_FAILED) {
        fatal("Reading keymap info failed");
    }
    c_.xkb->set_keymap_text(std::string_view(static_cast<const char*>(text), size));
    munmap(text, size);
}

void WindowWayland::on_keyboard_enter(std::uint32_t serial) {
    c_.last_serial = serial;
    set_flag(WINDOW_IS_FOCUSED, true);
    if (callbacks) {
        callbacks->on_focus_changed(true);
    }
}

void WindowWayland::on_keyboard_leave(std::uint32_t serial) {
    c_.last_serial = serial;
    c_.xkb->stop_repeat();
    set_flag(WINDOW_IS_FOCUSED, false);
    if (callbacks) {
        callbacks->on_focus_changed(false);
    }
}

void WindowWayland::on_key(std::uint32_t serial, std::uint32_t key, std::uint32_t state) {
    c_.last_serial = serial;
    const bool pressed = state == WL_KEYBOARD_KEY_STATE_PRESSED;
    if (auto report = c_.xkb->key(key, pressed, mono_now())) {
        report_key(*report);
    }
}

void WindowWayland::report_key(const WaylandKeyReport& report) {
    if (callbacks) {
        callbacks->key_handler(report.key, report.raw_keysym, report.modifiers);
    }
}

void WindowWayland::on_modifiers(std::uint32_t serial, std::uint32_t depressed,
                                 std::uint32_t latched, std::uint32_t locked, std::uint32_t group) {
    c_.last_serial = serial;
    c_.xkb->update_modifiers(depressed, latched, locked, group);
}

void WindowWayland::on_repeat_info(std::int32_t rate, std::int32_t delay) {
    c_.xkb->set_repeat_info(rate, delay);
    repeat_rate = static_cast<std::uint32_t>(c_.xkb->repeat().rate());
}

void WindowWayland::show_cursor(std::uint32_t style) {
    if (!c_.pointer) {
        return;
    }
    if (style == MOUSE_POINTER_HIDDEN) {
        wl_pointer_set_cursor(c_.pointer, c_.pointer_enter_serial, nullptr, 0, 0);
        set_flag(WINDOW_IS_POINTER_HIDDEN, true);
        return;
    }
    if (style > MOUSE_POINTER_MOVE || !c_.cursor_surface) {
        return;
    }
    wl_cursor* cursor = c_.cursors[style - 1];
    if (!cursor || cursor->image_count == 0) {
        return;
    }
    wl_cursor_image* image = cursor->images[0];
    wl_buffer* buffer = wl_cursor_image_get_buffer(image);
    if (!buffer) {
        return;
    }
    wl_pointer_set_cursor(c_.pointer, c_.pointer_enter_serial, c_.cursor_surface,
                          static_cast<std::int32_t>(image->hotspot_x),
                          static_cast<std::int32_t>(image->hotspot_y));
    wl_surface_attach(c_.cursor_surface, buffer, 0, 0);
    wl_surface_damage(c_.cursor_surface, 0, 0, static_cast<std::int32_t>(image->width),
                      static_cast<std::int32_t>(image->height));
    wl_surface_commit(c_.cursor_surface);
    set_flag(WINDOW_IS_POINTER_HIDDEN, false);
}

void WindowWayland::set_pointer_style(MousePointerStyle style) {
    show_cursor(style);
}

void WindowWayland::on_pointer_enter(std::uint32_t serial, wl_surface* surface, wl_fixed_t x,
                                     wl_fixed_t y) {
    c_.last_serial = serial;
    c_.pointer_enter_serial = serial;
    c_.pointer_surface = surface;
    set_flag(WINDOW_IS_POINTER_HIDDEN, false);
    pointer_x = wl_fixed_to_int(x);
    pointer_y = wl_fixed_to_int(y);
    show_cursor(MOUSE_POINTER_ARROW);
    if (callbacks) {
        callbacks->on_activity();
    }
    paint = true;
}

void WindowWayland::on_pointer_leave(wl_surface*) {
    c_.pointer_surface = nullptr;
}

void WindowWayland::on_pointer_motion(wl_fixed_t x, wl_fixed_t y) {
    pointer_x = wl_fixed_to_int(x);
    pointer_y = wl_fixed_to_int(y);
    if (shadow_surface_ && c_.pointer_surface == shadow_surface_) {
        const ResizeEdge edge = shadow_hit_edge(pointer_x, pointer_y, static_cast<std::int32_t>(w),
                                                static_cast<std::int32_t>(h));
        if (edge != RESIZE_EDGE_NONE) {
            show_cursor(pointer_style_for_edge(edge));
        }
        return;
    }
    if (title_press_ && toplevel_) {
        title_press_ = false;
        if (ui) {
            for (TitleBarButton& button : ui->title_bar_buttons) {
                button.hover = 0.0f;
            }
        }
        if (callbacks) {
            callbacks->invalidate();
        }
        xdg_toplevel_move(toplevel_, c_.seat, title_press_serial_);
        return;
    }
    if (has_flag(WINDOW_IS_POINTER_HIDDEN)) {
        show_cursor(MOUSE_POINTER_ARROW);
    }
    if (callbacks) {
        callbacks->motion_handler(c_.pressed_button, pointer_x, pointer_y);
    }
}

void WindowWayland::on_pointer_button(std::uint32_t serial, std::uint32_t code,
                                      std::uint32_t state) {
    c_.last_serial = serial;
    const bool pressed = state == WL_POINTER_BUTTON_STATE_PRESSED;
    const std::uint32_t button = button_from_linux_code(code);
    if (csd_ && pressed && toplevel_) {
        const bool on_shadow = shadow_surface_ && c_.pointer_surface == shadow_surface_;
        const CsdPress press{
            .on_shadow = on_shadow,
            .on_title_bar = c_.pointer_surface == surface_ &&
                            pointer_y <= static_cast<std::int32_t>(CSD_TITLE_BAR_RESERVATION) &&
                            csd_mode_ != CSD_MODE_NONE,
            .button = button,
            .near_title_button =
                ui && near_title_button(ui->title_bar_buttons, pointer_x, pointer_y),
        };
        switch (csd_press_action(press)) {
            case CSD_PRESS_REPORT:
                break;
            case CSD_PRESS_RESIZE:
                if (const ResizeEdge edge =
                        shadow_hit_edge(pointer_x, pointer_y, static_cast<std::int32_t>(w),
                                        static_cast<std::int32_t>(h));
                    edge != RESIZE_EDGE_NONE) {
                    xdg_toplevel_resize(toplevel_, c_.seat, serial, edge);
                }
                return;
            case CSD_PRESS_TITLE_BUTTON:
                title_press_ = true;
                title_press_serial_ = serial;
                return;
            case CSD_PRESS_MOVE:
                xdg_toplevel_move(toplevel_, c_.seat, serial);
                return;
            case CSD_PRESS_WINDOW_MENU:
                xdg_toplevel_show_window_menu(toplevel_, c_.seat, serial, pointer_x, pointer_y);
                return;
            case CSD_PRESS_NONE:
                return;
        }
    }
    if (!pressed) {
        title_press_ = false;
    }
    c_.pressed_button = pressed && button <= 3 ? button : 0;
    if (callbacks) {
        callbacks->button_handler(button, pressed, pointer_x, pointer_y, 0, c_.xkb->modifiers());
    }
}

void WindowWayland::on_axis(std::uint32_t axis, wl_fixed_t value) {
    if (axis != WL_POINTER_AXIS_VERTICAL_SCROLL) {
        return;
    }
    if (auto wheel = wheel_.axis(value); wheel && callbacks) {
        callbacks->button_handler(wheel->button, true, pointer_x, pointer_y, wheel->steps,
                                  c_.xkb->modifiers());
    }
}

void WindowWayland::on_axis_discrete(std::uint32_t axis, std::int32_t steps) {
    if (axis != WL_POINTER_AXIS_VERTICAL_SCROLL) {
        return;
    }
    const WheelTranslator::Wheel wheel = wheel_.discrete(steps);
    if (callbacks) {
        callbacks->button_handler(wheel.button, true, pointer_x, pointer_y, 0, c_.xkb->modifiers());
    }
}

void WindowWayland::on_output_geometry(wl_output* output, std::int32_t mm_width,
                                       std::int32_t subpixel, const char* model) {
    outputs_.geometry(output, mm_width, subpixel, model ? model : "");
    if (settings().current_lcd_order == 0 && subpixel >= 0 && subpixel <= 5) {
        settings().current_lcd_order = static_cast<std::uint32_t>(subpixel);
    }
}

void WindowWayland::on_output_mode(wl_output* output, std::uint32_t flags, std::int32_t width,
                                   std::int32_t refresh) {
    if (flags & WL_OUTPUT_MODE_CURRENT) {
        outputs_.current_mode(output, width, refresh);
    }
}

void WindowWayland::on_output_name(wl_output* output, const char* name) {
    outputs_.connector_name(output, name ? name : "");
}

void WindowWayland::on_output_done(wl_output* output) {
    outputs_.done(output);
}

void WindowWayland::make_current_output(const OutputEntry& entry) {
    output_subpixel = entry.subpixel;
    output_dpi = entry.dpi;
    output_index = entry.index;
    output_name = entry.name;
    c_.frame_interval_ms = entry.refresh_ms;
    if (callbacks) {
        callbacks->on_output_changed(output_index, output_name, output_subpixel, output_dpi);
    }
}

void WindowWayland::on_surface_enter(wl_output* output) {
    set_flag(WINDOW_IS_MINIMIZED, false);
    if (const OutputEntry* entry = outputs_.enter(output)) {
        make_current_output(*entry);
    }
}

void WindowWayland::on_surface_leave(wl_output* output) {
    if (const OutputEntry* entry = outputs_.leave(output)) {
        make_current_output(*entry);
    }
    if (outputs_.on_no_output()) {
        set_flag(WINDOW_IS_MINIMIZED, true);
    }
}

void WindowWayland::set_window_geometry() {
    if (xdg_surface_) {
        xdg_surface_set_window_geometry(xdg_surface_, 0, 0, static_cast<std::int32_t>(w),
                                        static_cast<std::int32_t>(h));
    }
}

bool WindowWayland::draw_shadow_buffer() {
    if (!c_.shm || !shadow_surface_) {
        return false;
    }
    const std::int32_t width = static_cast<std::int32_t>(w) + SHADOW_EXTRA;
    const std::int32_t height = static_cast<std::int32_t>(h) + SHADOW_EXTRA;
    const std::size_t stride = static_cast<std::size_t>(width) * 4;
    const std::size_t size = stride * static_cast<std::size_t>(height);
    const int fd = create_shm_file(size);
    if (fd < 0) {
        return false;
    }
    void* memory = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (memory == MAP_FAILED) {
        close(fd);
        return false;
    }
    auto* pixels = static_cast<std::uint32_t*>(memory);
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                   static_cast<std::size_t>(x)] =
                static_cast<std::uint32_t>(
                    shadow_alpha(x, y, static_cast<std::int32_t>(w), static_cast<std::int32_t>(h)))
                << 24;
        }
    }
    munmap(memory, size);
    wl_shm_pool* pool = wl_shm_create_pool(c_.shm, fd, static_cast<std::int32_t>(size));
    wl_buffer* buffer = wl_shm_pool_create_buffer(
        pool, 0, width, height, static_cast<std::int32_t>(stride), WL_SHM_FORMAT_ARGB8888);
    wl_shm_pool_destroy(pool);
    close(fd);
    if (shadow_buffer_) {
        wl_buffer_destroy(shadow_buffer_);
    }
    shadow_buffer_ = buffer;
    shadow_w_ = w;
    shadow_h_ = h;
    wl_surface_attach(shadow_surface_, shadow_buffer_, 0, 0);
    wl_surface_damage(shadow_surface_, 0, 0, width, height);
    wl_region* input = wl_compositor_create_region(c_.compositor);
    wl_region_add(input, 30, 24, static_cast<std::int32_t>(w) + 20,
                  static_cast<std::int32_t>(h) + 20);
    wl_surface_set_input_region(shadow_surface_, input);
    wl_region_destroy(input);
    return true;
}

void WindowWayland::show_shadow() {
    if (!c_.subcompositor || !c_.shm) {
        return;
    }
    if (!shadow_surface_) {
        shadow_surface_ = wl_compositor_create_surface(c_.compositor);
        shadow_subsurface_ =
            wl_subcompositor_get_subsurface(c_.subcompositor, shadow_surface_, surface_);
        wl_subsurface_set_position(shadow_subsurface_, -SHADOW_LEFT, -SHADOW_TOP);
        wl_subsurface_place_below(shadow_subsurface_, surface_);
    }
    draw_shadow_buffer();
    wl_surface_commit(shadow_surface_);
}

void WindowWayland::hide_shadow() {
    if (!shadow_surface_) {
        return;
    }
    wl_surface_attach(shadow_surface_, nullptr, 0, 0);
    wl_surface_commit(shadow_surface_);
    if (shadow_buffer_) {
        wl_buffer_destroy(shadow_buffer_);
        shadow_buffer_ = nullptr;
    }
    shadow_w_ = 0;
    shadow_h_ = 0;
}

void WindowWayland::apply_csd_mode(CsdMode mode) {
    const CsdMode previous = csd_mode_;
    csd_mode_ = mode;
    if (mode != CSD_MODE_SHADOW && previous == CSD_MODE_SHADOW) {
        hide_shadow();
    } else if (mode == CSD_MODE_SHADOW && previous != CSD_MODE_SHADOW) {
        show_shadow();
        set_window_geometry();
    }
    const std::uint32_t ui_mode = ui_decoration_mode(mode);
    if (ui) {
        ui->decoration_mode = ui_mode;
    }
    if (callbacks) {
        callbacks->on_decoration_mode_changed(ui_mode);
    }
}

void WindowWayland::on_toplevel_configure(std::int32_t width, std::int32_t height,
                                          wl_array* states) {
    if (width == 1 && height == 1 && !configured_) {
        return;
    }
    configured_ = true;
    ToplevelStates flags;
    const auto* state = static_cast<const std::uint32_t*>(states->data);
    for (std::size_t i = 0; i < states->size / sizeof(std::uint32_t); ++i) {
        switch (state[i]) {
            case XDG_TOPLEVEL_STATE_MAXIMIZED:
                flags.maximized = true;
                break;
            case XDG_TOPLEVEL_STATE_FULLSCREEN:
                flags.fullscreen = true;
                break;
            case XDG_TOPLEVEL_STATE_TILED_LEFT:
            case XDG_TOPLEVEL_STATE_TILED_RIGHT:
            case XDG_TOPLEVEL_STATE_TILED_TOP:
            case XDG_TOPLEVEL_STATE_TILED_BOTTOM:
                flags.tiled = true;
                break;
            default:
                break;
        }
    }
    // The compositor has the last word: a window it made fullscreen or maximized by itself
    // (a key binding of its own) is one, and a refused request leaves the window as it was.
    set_flag(WINDOW_IS_FULLSCREEN, flags.fullscreen);
    set_flag(WINDOW_IS_MAXIMIZED, flags.maximized);
    if (width == 0 && height == 0 && previous_w && previous_h) {
        width = static_cast<std::int32_t>(previous_w);
        height = static_cast<std::int32_t>(previous_h);
    }
    if (csd_) {
        apply_csd_mode(csd_mode_for(flags));
    }
    if (width > 0 && height > 0) {
        resize_egl_window(static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height));
        const bool plain = !flags.maximized && !flags.fullscreen && !flags.tiled;
        if ((csd_ && csd_mode_ == CSD_MODE_SHADOW) || (!csd_ && plain)) {
            previous_w = w;
            previous_h = h;
        }
        if ((csd_ && csd_mode_ == CSD_MODE_NONE) || (!csd_ && flags.fullscreen)) {
            set_window_geometry();
        }
    }
}

void WindowWayland::on_xdg_surface_configure(std::uint32_t serial) {
    if (csd_) {
        if (!shadow_surface_ && csd_mode_ == CSD_MODE_SHADOW) {
            show_shadow();
            set_window_geometry();
        } else if (csd_mode_ == CSD_MODE_SHADOW && (shadow_w_ != w || shadow_h_ != h)) {
            draw_shadow_buffer();
        }
        if (csd_mode_ != CSD_MODE_NONE) {
            set_window_geometry();
            if (shadow_surface_) {
                wl_surface_commit(shadow_surface_);
            }
        }
    }
    paint = true;
    xdg_surface_ack_configure(xdg_surface_, serial);
}

void WindowWayland::on_shell_configure(std::int32_t width, std::int32_t height) {
    if (width > 0 && height > 0) {
        resize_egl_window(static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height));
        paint = true;
    }
}

void WindowWayland::release_input_devices() {
    if (c_.pointer) {
        wl_pointer_release(c_.pointer);
        c_.pointer = nullptr;
    }
    if (c_.keyboard) {
        wl_keyboard_release(c_.keyboard);
        c_.keyboard = nullptr;
    }
}

WindowWayland::~WindowWayland() {
    if (!connected_) {
        return;
    }
    if (c_.egl_display != EGL_NO_DISPLAY) {
        eglMakeCurrent(c_.egl_display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        if (egl_surface_ != EGL_NO_SURFACE) eglDestroySurface(c_.egl_display, egl_surface_);
        if (egl_context_ != EGL_NO_CONTEXT) eglDestroyContext(c_.egl_display, egl_context_);
        eglTerminate(c_.egl_display);
        eglReleaseThread();
    }
    if (egl_window_) wl_egl_window_destroy(egl_window_);
    if (frame_callback_) wl_callback_destroy(frame_callback_);
    if (blur_) org_kde_kwin_blur_release(blur_);
    if (shadow_buffer_) wl_buffer_destroy(shadow_buffer_);
    if (shadow_subsurface_) wl_subsurface_destroy(shadow_subsurface_);
    if (shadow_surface_) wl_surface_destroy(shadow_surface_);
    if (decoration_) zxdg_toplevel_decoration_v1_destroy(decoration_);
    if (toplevel_) xdg_toplevel_destroy(toplevel_);
    if (xdg_surface_) xdg_surface_destroy(xdg_surface_);
    if (shell_surface_) wl_shell_surface_destroy(shell_surface_);
    if (surface_) wl_surface_destroy(surface_);
    if (c_.cursor_surface) wl_surface_destroy(c_.cursor_surface);
    if (c_.cursor_theme) wl_cursor_theme_destroy(c_.cursor_theme);
    release_input_devices();
    selections_.release();
    if (c_.data_device) wl_data_device_release(c_.data_device);
    if (c_.primary_selection_device) {
        zwp_primary_selection_device_v1_destroy(c_.primary_selection_device);
    }
    for (const WaylandConnection::BoundOutput& output : c_.outputs) {
        release_output(output.proxy);
    }
    if (c_.seat) wl_seat_release(c_.seat);
    if (c_.blur_manager) org_kde_kwin_blur_manager_destroy(c_.blur_manager);
    if (c_.primary_selection_manager) {
        zwp_primary_selection_device_manager_v1_destroy(c_.primary_selection_manager);
    }
    if (c_.data_device_manager) wl_data_device_manager_destroy(c_.data_device_manager);
    if (c_.decoration_manager) zxdg_decoration_manager_v1_destroy(c_.decoration_manager);
    if (c_.wm_base) xdg_wm_base_destroy(c_.wm_base);
    if (c_.shell) wl_shell_destroy(c_.shell);
    if (c_.shm) wl_shm_destroy(c_.shm);
    if (c_.subcompositor) wl_subcompositor_destroy(c_.subcompositor);
    if (c_.compositor) wl_compositor_destroy(c_.compositor);
    if (c_.registry) wl_registry_destroy(c_.registry);
    c_.xkb.reset();
    wl_display_flush(c_.display);
    wl_display_roundtrip(c_.display);
    wl_display_disconnect(c_.display);
}

std::unique_ptr<Window> window_wayland_create(std::uint32_t width, std::uint32_t height,
                                              std::uint32_t, std::uint32_t,
                                              WindowContextRequest context, UiState* ui) {
    auto window = std::make_unique<WindowWayland>(width, height, ui);
    if (!window->connect()) {
        return nullptr;
    }
    window->set_up(context);
    return window;
}

}  // namespace zelto
