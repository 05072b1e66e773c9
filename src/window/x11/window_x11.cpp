// clang-format off
// zelto's headers come before the X headers, whose macros (CursorShape, KeyPress) clash with
// their names.
#include "window/x11/window_x11.hpp"
#include "config/settings.hpp"
#include "util/diagnostics.hpp"
#include "window/x11/x11_connection.hpp"
#include "window/x11/x11_dnd.hpp"
#include "window/x11/x11_keys.hpp"
#include "window/x11/x11_logic.hpp"
#include "window/x11/x11_selection.hpp"

#include <GL/glx.h>
#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/cursorfont.h>
#include <X11/extensions/Xrandr.h>
#include <X11/extensions/Xrender.h>
#include <unistd.h>
// clang-format on

#include <array>
#include <cstring>
#include <string_view>
#include <vector>

namespace zelto {

namespace {

constexpr long WINDOW_EVENT_MASK = KeyPressMask | ButtonPressMask | ButtonReleaseMask |
                                   PointerMotionMask | KeymapStateMask | ExposureMask |
                                   VisibilityChangeMask | StructureNotifyMask |
                                   SubstructureRedirectMask | FocusChangeMask | PropertyChangeMask;

constexpr long NET_WM_STATE_REMOVE = 0;
constexpr long NET_WM_STATE_ADD = 1;
constexpr long SOURCE_IS_APPLICATION = 1;

constexpr unsigned long MWM_HINTS_DECORATIONS = 1ul << 1;
constexpr unsigned long MWM_DECOR_BORDER = 1ul << 1;

constexpr long XDND_VERSION = 5;

constexpr std::uint32_t WHEEL_UP = 65;
constexpr std::uint32_t WHEEL_DOWN = 66;

struct XFreeDeleter {
    void operator()(void* pointer) const { XFree(pointer); }
};

// Whether a space-separated extension list names `name` exactly.
bool has_extension(const char* list, std::string_view name) {
    if (!list) {
        return false;
    }
    std::string_view rest(list);
    while (!rest.empty()) {
        const std::size_t end = rest.find(' ');
        if (rest.substr(0, end) == name) {
            return true;
        }
        if (end == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(end + 1);
    }
    return false;
}

template <typename Proc>
Proc load_glx_proc(const char* name) {
    return reinterpret_cast<Proc>(glXGetProcAddressARB(reinterpret_cast<const GLubyte*>(name)));
}

class WindowX11 final : public Window {
  public:
    WindowX11(std::unique_ptr<X11Connection> connection, std::uint32_t width, std::uint32_t height,
              std::uint32_t cell_width, std::uint32_t cell_height, WindowContextRequest context,
              UiState* ui_state);
    ~WindowX11() override;

    void set_fullscreen(bool fullscreen) override;
    void set_maximized(bool maximized) override;
    void minimize() override {}
    void resize(std::uint32_t width, std::uint32_t height) override;
    void events() override;
    std::optional<MonoTime> process_timers() override;
    void set_title(const std::string& title) override;
    bool swap_if_needed(bool allow_drawing) override;
    int get_connection_fd() const override { return ConnectionNumber(display_); }
    void clipboard_send(std::string text) override;
    void clipboard_get() override;
    void primary_send(std::string text) override;
    void primary_get() override;
    void set_swap_interval(int interval) override;
    void set_current_context(bool current) override;
    void set_incremental_resize(std::uint32_t cell_width, std::uint32_t cell_height) override;
    void set_pointer_style(MousePointerStyle style) override;
    void* get_gl_proc_address(const char* name) override;
    std::uint32_t get_keysym_from_name(const char* name) override {
        return key_value_from_name(name);
    }
    void set_urgent() override;
    void raise_or_lower(bool raise) override;
    std::int64_t get_window_id() const override { return static_cast<std::int64_t>(window_); }
    void notify_startup_complete(const std::string& id) override;
    const void* get_backend_state() const override { return connection_.get(); }

  private:
    void destroy_orphaned_glx_window();
    void open_input_method();
    void create_input_context();
    GLXFBConfig choose_framebuffer_config();
    void create_window(std::uint32_t width, std::uint32_t height);
    void load_glx_extensions();
    void create_context(WindowContextRequest context);
    void write_size_hints(std::uint32_t cell_width, std::uint32_t cell_height, std::uint32_t extra);
    void set_decorations();
    void set_window_properties();
    void create_cursors();
    void set_class_hint();
    void set_theme_variant();

    void dispatch_queued(int mode);
    void handle_event(XEvent& event);
    void on_key_press(XKeyEvent& event);
    void on_button_press(const XButtonEvent& event);
    void on_button_release(const XButtonEvent& event);
    void on_motion(const XMotionEvent& event);
    void on_focus_in();
    void on_focus_out();
    void on_configure(const XConfigureEvent& event);
    void on_client_message(XClientMessageEvent& event);
    void show_hidden_pointer();

    void load_monitors();
    std::vector<MonitorGeometry> read_monitors();
    void check_monitor();
    void send_net_wm_state(long action, Atom first, Atom second = 0);
    std::uint8_t query_buffer_age();
    bool drawable_preserves_contents();
    void present(const std::optional<std::vector<DamageRect>>& damage, std::uint8_t age,
                 bool preserved);

    std::unique_ptr<X11Connection> connection_;
    Display* display_;
    const X11Atoms& atoms_;
    int screen_;
    ::Window root_;

    XIM input_method_ = nullptr;
    XIC input_context_ = nullptr;
    GLXFBConfig fb_config_ = nullptr;
    XVisualInfo visual_info_{};
    Colormap colormap_ = 0;
    ::Window window_ = 0;
    GLXWindow glx_window_ = 0;
    GLXContext context_ = nullptr;
    std::unique_ptr<XSizeHints, XFreeDeleter> size_hints_;
    Cursor blank_cursor_ = 0;
    Cursor text_cursor_ = 0;
    Cursor hand_cursor_ = 0;

    PFNGLXRELEASEBUFFERSMESAPROC release_buffers_ = nullptr;
    PFNGLXCOPYSUBBUFFERMESAPROC copy_sub_buffer_ = nullptr;
    PFNGLXSWAPINTERVALEXTPROC swap_interval_ext_ = nullptr;
    PFNGLXSWAPINTERVALMESAPROC swap_interval_mesa_ = nullptr;
    bool has_buffer_age_ = false;

    std::uint32_t held_button_ = 0;
    std::vector<MonitorGeometry> monitors_;
    std::optional<std::size_t> current_monitor_;
    std::unique_ptr<X11Selections> selections_;
    std::unique_ptr<X11Dnd> dnd_;
    // Set when the window was destroyed from outside: no request may name it any more.
    bool window_gone_ = false;
};

WindowX11::WindowX11(std::unique_ptr<X11Connection> connection, std::uint32_t width,
                     std::uint32_t height, std::uint32_t cell_width, std::uint32_t cell_height,
                     WindowContextRequest context, UiState* ui_state)
    : connection_(std::move(connection)),
      display_(connection_->display),
      atoms_(connection_->atoms),
      screen_(DefaultScreen(display_)),
      root_(RootWindow(display_, screen_)) {
    w = width;
    h = height;
    ui = ui_state;
    open_input_method();
    unsigned int repeat_delay = 0;
    unsigned int repeat_interval = 0;
    if (XkbGetAutoRepeatRate(display_, XkbUseCoreKbd, &repeat_delay, &repeat_interval)) {
        repeat_rate = repeat_interval;
    }
    fb_config_ = choose_framebuffer_config();
    load_glx_extensions();
    create_context(context);
    create_window(width, height);
    create_input_context();
    write_size_hints(cell_width, cell_height, 0);
    XWMHints wm_hints{};
    wm_hints.flags = InputHint;
    wm_hints.input = True;
    XSetWMHints(display_, window_, &wm_hints);
    set_decorations();
    glx_window_ = glXCreateWindow(display_, fb_config_, window_, nullptr);
    glXMakeContextCurrent(display_, glx_window_, glx_window_, context_);
    set_window_properties();
    selections_ =
        std::make_unique<X11Selections>(display_, atoms_, window_, connection_->max_request_size);
    dnd_ = std::make_unique<X11Dnd>(display_, atoms_, window_, *selections_);
    create_cursors();
    set_class_hint();
    set_title(settings().title);
    set_theme_variant();
    XSelectInput(display_, root_, StructureNotifyMask);
    XMapWindow(display_, window_);
    paint = true;
    load_monitors();
    check_monitor();
    XFlush(display_);
}

WindowX11::~WindowX11() {
    dnd_.reset();
    selections_.reset();
    if (!window_gone_) {
        XUndefineCursor(display_, window_);
        XUnmapWindow(display_, window_);
    }
    glXMakeContextCurrent(display_, None, None, nullptr);
    glXDestroyContext(display_, context_);
    size_hints_.reset();
    monitors_.clear();
    if (window_gone_) {
        destroy_orphaned_glx_window();
    } else {
        if (release_buffers_) {
            release_buffers_(display_, glx_window_);
        }
        glXDestroyWindow(display_, glx_window_);
        XDestroyWindow(display_, window_);
    }
    XFreeCursor(display_, blank_cursor_);
    XFreeCursor(display_, text_cursor_);
    XFreeCursor(display_, hand_cursor_);
    XFreeColormap(display_, colormap_);
    XDestroyIC(input_context_);
    XCloseIM(input_method_);
}

// The server dropped the GLX window with the X window; the client side still has to be freed,
// and the server's complaint about the unknown drawable is expected.
void WindowX11::destroy_orphaned_glx_window() {
    XSync(display_, False);
    const XErrorHandler previous = XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    glXDestroyWindow(display_, glx_window_);
    XSync(display_, False);
    XSetErrorHandler(previous);
}

void WindowX11::open_input_method() {
    XSetLocaleModifiers("@im=none");
    input_method_ = XOpenIM(display_, nullptr, nullptr, nullptr);
    if (!input_method_) {
        fatal("Failed to open input method");
    }
}

void WindowX11::create_input_context() {
    input_context_ = XCreateIC(input_method_, XNInputStyle, XIMPreeditNothing | XIMStatusNothing,
                               XNClientWindow, window_, XNFocusWindow, window_, nullptr);
    if (!input_context_) {
        fatal("Failed to create input context");
    }
    XSetICFocus(input_context_);
}

GLXFBConfig WindowX11::choose_framebuffer_config() {
    static constexpr int ATTRIBUTES[] = {
        GLX_RENDER_TYPE,
        GLX_RGBA_BIT,
        GLX_DRAWABLE_TYPE,
        GLX_WINDOW_BIT,
        GLX_DOUBLEBUFFER,
        True,
        GLX_RED_SIZE,
        1,
        GLX_GREEN_SIZE,
        1,
        GLX_BLUE_SIZE,
        1,
        GLX_ALPHA_SIZE,
        1,
        GLX_DEPTH_SIZE,
        0,
        None,
    };
    int count = 0;
    std::unique_ptr<GLXFBConfig, XFreeDeleter> configs(
        glXChooseFBConfig(display_, screen_, ATTRIBUTES, &count));
    if (!configs || count == 0) {
        fatal("glXChooseFBConfig failed");
    }
    GLXFBConfig transparent = nullptr;
    GLXFBConfig fallback = nullptr;
    for (int i = 0; i < count && !transparent; ++i) {
        std::unique_ptr<XVisualInfo, XFreeDeleter> visual(
            glXGetVisualFromFBConfig(display_, configs.get()[i]));
        if (!visual) {
            continue;
        }
        const XRenderPictFormat* format = XRenderFindVisualFormat(display_, visual->visual);
        if (!format || !format->direct.redMask || !format->direct.greenMask ||
            !format->direct.blueMask || visual->depth < 24) {
            continue;
        }
        fallback = configs.get()[i];
        if (format->direct.alphaMask && visual->depth >= 32) {
            transparent = configs.get()[i];
        }
    }
    GLXFBConfig chosen = transparent;
    if (!chosen) {
        warn("No transparent framebuffer found\n");
        chosen = fallback;
    }
    if (!chosen) {
        fatal("No suitable framebuffer configuration found");
    }
    std::unique_ptr<XVisualInfo, XFreeDeleter> visual(glXGetVisualFromFBConfig(display_, chosen));
    if (!visual) {
        fatal("Failed to get visual info");
    }
    visual_info_ = *visual;
    return chosen;
}

void WindowX11::create_window(std::uint32_t width, std::uint32_t height) {
    colormap_ = XCreateColormap(display_, root_, visual_info_.visual, AllocNone);
    XSetWindowAttributes attributes{};
    attributes.border_pixel = 0;
    attributes.colormap = colormap_;
    attributes.event_mask = WINDOW_EVENT_MASK;
    window_ =
        XCreateWindow(display_, root_, 0, 0, width, height, 0, visual_info_.depth, InputOutput,
                      visual_info_.visual, CWBorderPixel | CWColormap | CWEventMask, &attributes);
    if (!window_) {
        fatal("Failed to create X11 window");
    }
}

void WindowX11::load_glx_extensions() {
    const char* extensions = glXQueryExtensionsString(display_, screen_);
    if (has_extension(extensions, "GLX_MESA_release_buffers")) {
        release_buffers_ = load_glx_proc<PFNGLXRELEASEBUFFERSMESAPROC>("glXReleaseBuffersMESA");
    }
    if (has_extension(extensions, "GLX_MESA_copy_sub_buffer")) {
        copy_sub_buffer_ = load_glx_proc<PFNGLXCOPYSUBBUFFERMESAPROC>("glXCopySubBufferMESA");
    }
    if (has_extension(extensions, "GLX_EXT_swap_control")) {
        swap_interval_ext_ = load_glx_proc<PFNGLXSWAPINTERVALEXTPROC>("glXSwapIntervalEXT");
    } else if (has_extension(extensions, "GLX_MESA_swap_control")) {
        swap_interval_mesa_ = load_glx_proc<PFNGLXSWAPINTERVALMESAPROC>("glXSwapIntervalMESA");
    }
    if (!swap_interval_ext_ && !swap_interval_mesa_) {
        warn("glXSwapIntervalEXT not found\n");
    }
    has_buffer_age_ = has_extension(extensions, "GLX_EXT_buffer_age");
}

void WindowX11::create_context(WindowContextRequest context) {
    if (context.api == WINDOW_API_VULKAN) {
        fatal("vulkan context not implemented for X11\n");
    }
    const char* extensions = glXQueryExtensionsString(display_, screen_);
    PFNGLXCREATECONTEXTATTRIBSARBPROC create_with_attributes = nullptr;
    if (has_extension(extensions, "GLX_ARB_create_context")) {
        create_with_attributes =
            load_glx_proc<PFNGLXCREATECONTEXTATTRIBSARBPROC>("glXCreateContextAttribsARB");
    }
    if (create_with_attributes) {
        std::vector<int> attributes = {
            GLX_CONTEXT_MAJOR_VERSION_ARB,
            static_cast<int>(context.major),
            GLX_CONTEXT_MINOR_VERSION_ARB,
            static_cast<int>(context.minor),
        };
        if (context.api == WINDOW_API_GLES) {
            attributes.insert(attributes.end(),
                              {GLX_CONTEXT_PROFILE_MASK_ARB, GLX_CONTEXT_ES2_PROFILE_BIT_EXT});
        }
        attributes.push_back(None);
        context_ = create_with_attributes(display_, fb_config_, nullptr, True, attributes.data());
    } else {
        warn("glXCreateContextAttribsARB not found\n");
        context_ = glXCreateNewContext(display_, fb_config_, GLX_RGBA_TYPE, nullptr, True);
    }
    if (!context_) {
        fatal("Failed to create GLX context");
    }
}

// Minimum three cells, base two cells, and one cell per resize step when the option asks for it.
void WindowX11::write_size_hints(std::uint32_t cell_width, std::uint32_t cell_height,
                                 std::uint32_t extra) {
    if (!size_hints_) {
        size_hints_.reset(XAllocSizeHints());
        if (!size_hints_) {
            fatal("out of memory");
        }
    }
    XSizeHints& hints = *size_hints_;
    hints.flags = PSize | PMinSize | PBaseSize | PWinGravity;
    hints.width = static_cast<int>(w);
    hints.height = static_cast<int>(h);
    hints.min_width = static_cast<int>(3 * cell_width + extra);
    hints.min_height = static_cast<int>(3 * cell_height + extra);
    hints.base_width = static_cast<int>(2 * cell_width + extra);
    hints.base_height = static_cast<int>(2 * cell_height + extra);
    hints.win_gravity = NorthWestGravity;
    if (settings().incremental_resize) {
        hints.flags |= PResizeInc;
        hints.width_inc = static_cast<int>(cell_width);
        hints.height_inc = static_cast<int>(cell_height);
    }
    XSetWMNormalHints(display_, window_, &hints);
}

void WindowX11::set_decorations() {
    if (settings().decorations == DECORATIONS_FULL) {
        return;
    }
    // flags, functions, decorations, input mode, status
    std::array<unsigned long, 5> hints{};
    hints[0] = MWM_HINTS_DECORATIONS;
    hints[2] = settings().decorations == DECORATIONS_MINIMAL ? MWM_DECOR_BORDER : 0;
    XChangeProperty(display_, window_, atoms_.motif_wm_hints, atoms_.motif_wm_hints, 32,
                    PropModeReplace, reinterpret_cast<unsigned char*>(hints.data()),
                    static_cast<int>(hints.size()));
}

void WindowX11::set_window_properties() {
    Atom type = atoms_.net_wm_window_type_normal;
    XChangeProperty(display_, window_, atoms_.net_wm_window_type, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&type), 1);
    std::array<Atom, 2> protocols = {atoms_.wm_delete_window, atoms_.net_wm_ping};
    XSetWMProtocols(display_, window_, protocols.data(), static_cast<int>(protocols.size()));
    long pid = getpid();
    XChangeProperty(display_, window_, atoms_.net_wm_pid, XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&pid), 1);
    long xdnd_version = XDND_VERSION;
    XChangeProperty(display_, window_, atoms_.xdnd_aware, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&xdnd_version), 1);
    if (settings().bg_blur) {
        // An empty region asks for blur behind the whole window.
        XChangeProperty(display_, window_, atoms_.kde_net_wm_blur_behind_region, XA_CARDINAL, 32,
                        PropModeReplace, nullptr, 0);
    }
}

void WindowX11::create_cursors() {
    static constexpr char EMPTY_BITMAP[8] = {};
    const Pixmap blank = XCreateBitmapFromData(display_, window_, EMPTY_BITMAP, 8, 8);
    XColor black{};
    blank_cursor_ = XCreatePixmapCursor(display_, blank, blank, &black, &black, 0, 0);
    XFreePixmap(display_, blank);
    text_cursor_ = XCreateFontCursor(display_, XC_xterm);
    hand_cursor_ = XCreateFontCursor(display_, XC_hand1);
    XkbSelectEvents(display_, XkbUseCoreKbd, XkbAllEventsMask, XkbAllEventsMask);
}

void WindowX11::set_class_hint() {
    XClassHint hint{};
    hint.res_name = const_cast<char*>(settings().app_id.c_str());
    hint.res_class = const_cast<char*>(settings().app_class.c_str());
    XSetClassHint(display_, window_, &hint);
}

void WindowX11::set_theme_variant() {
    const char* variant = gtk_theme_variant(settings().decoration_theme, settings().bg_color);
    if (!variant) {
        return;
    }
    XChangeProperty(display_, window_, atoms_.gtk_theme_variant, atoms_.utf8_string, 8,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(variant),
                    static_cast<int>(std::strlen(variant)));
}

void WindowX11::events() {
    dispatch_queued(QueuedAfterFlush);
}

// Handles every event Xlib holds (and, with QueuedAfterFlush, what the socket has ready).
void WindowX11::dispatch_queued(int mode) {
    while (XEventsQueued(display_, mode) > 0) {
        XEvent event;
        XNextEvent(display_, &event);
        // The input method consumes the keys of a compose sequence.
        if (XFilterEvent(&event, None)) {
            continue;
        }
        handle_event(event);
    }
}

void WindowX11::handle_event(XEvent& event) {
    switch (event.type) {
        case KeyPress:
            on_key_press(event.xkey);
            return;
        case ButtonPress:
            on_button_press(event.xbutton);
            return;
        case ButtonRelease:
            on_button_release(event.xbutton);
            return;
        case MotionNotify:
            on_motion(event.xmotion);
            return;
        case FocusIn:
            on_focus_in();
            return;
        case FocusOut:
            on_focus_out();
            return;
        case Expose:
            if (callbacks) {
                callbacks->invalidate();
            }
            paint = true;
            return;
        case UnmapNotify:
            set_flag(WINDOW_IS_MINIMIZED, true);
            return;
        case MapNotify:
            set_flag(WINDOW_IS_MINIMIZED, false);
            paint = true;
            return;
        case ConfigureNotify:
            on_configure(event.xconfigure);
            return;
        case DestroyNotify:
            if (event.xdestroywindow.window == window_) {
                window_gone_ = true;
                set_flag(WINDOW_IS_CLOSED, true);
            }
            return;
        case ClientMessage:
            on_client_message(event.xclient);
            return;
        case PropertyNotify:
            selections_->on_property_notify(event.xproperty, callbacks);
            return;
        case SelectionClear:
            selections_->on_selection_clear(event.xselectionclear);
            return;
        case SelectionRequest:
            selections_->on_selection_request(event.xselectionrequest);
            return;
        case SelectionNotify:
            selections_->on_selection_notify(event.xselection, callbacks);
            return;
        case MappingNotify:
            XRefreshKeyboardMapping(&event.xmapping);
            return;
        default:
            break;
    }
    if (connection_->has_randr &&
        (event.type == connection_->randr_event_base + RRScreenChangeNotify ||
         event.type == connection_->randr_event_base + RRNotify)) {
        XRRUpdateConfiguration(&event);
        connection_->update_frame_interval();
        load_monitors();
        check_monitor();
    }
}

void WindowX11::on_key_press(XKeyEvent& event) {
    std::array<char, 4> text{};
    KeySym keysym = NoSymbol;
    Status status = 0;
    const int length = Xutf8LookupString(input_context_, &event, text.data(),
                                         static_cast<int>(text.size()), &keysym, &status);
    KeyLookup lookup;
    if ((status == XLookupChars || status == XLookupBoth) && length > 0) {
        lookup.text = std::string_view(text.data(), static_cast<std::size_t>(length));
    }
    if (status == XLookupKeySym || status == XLookupBoth) {
        lookup.keysym = static_cast<std::uint32_t>(keysym);
    }
    lookup.raw_keysym = static_cast<std::uint32_t>(
        XkbKeycodeToKeysym(display_, static_cast<KeyCode>(event.keycode), 0, 0));
    lookup.state = event.state;
    const std::optional<KeyReport> key = translate_key_press(lookup);
    if (key && callbacks) {
        callbacks->key_handler(key->key, key->raw_keysym, key->modifiers);
    }
}

void WindowX11::on_button_press(const XButtonEvent& event) {
    pointer_x = event.x;
    pointer_y = event.y;
    std::uint32_t button = event.button;
    if (button == Button4) {
        button = WHEEL_UP;
    } else if (button == Button5) {
        button = WHEEL_DOWN;
    } else {
        held_button_ = button;
    }
    if (callbacks) {
        callbacks->button_handler(button, true, event.x, event.y, 0,
                                  modifiers_from_x11_state(event.state));
    }
}

void WindowX11::on_button_release(const XButtonEvent& event) {
    pointer_x = event.x;
    pointer_y = event.y;
    if (event.button == 0 || event.button == Button4 || event.button == Button5) {
        return;
    }
    if (callbacks) {
        callbacks->button_handler(event.button, false, event.x, event.y, 0,
                                  modifiers_from_x11_state(event.state));
    }
    held_button_ = 0;
}

void WindowX11::on_motion(const XMotionEvent& event) {
    show_hidden_pointer();
    pointer_x = event.x;
    pointer_y = event.y;
    if (callbacks) {
        callbacks->motion_handler(held_button_, event.x, event.y);
    }
}

void WindowX11::on_focus_in() {
    XSetICFocus(input_context_);
    set_flag(WINDOW_IS_FOCUSED, true);
    if (callbacks) {
        callbacks->on_focus_changed(true);
    }
    paint = true;
    show_hidden_pointer();
    if (XGetSelectionOwner(display_, XA_PRIMARY) != window_ && callbacks) {
        callbacks->on_selection_lost();
    }
}

void WindowX11::on_focus_out() {
    XUnsetICFocus(input_context_);
    set_flag(WINDOW_IS_FOCUSED, false);
    if (callbacks) {
        callbacks->on_focus_changed(false);
    }
    show_hidden_pointer();
}

void WindowX11::on_configure(const XConfigureEvent& event) {
    // The root window is reconfigured when monitors are defined or removed; RandR reports
    // those with no event of its own.
    if (event.window == root_) {
        // A screen change also comes as a RandR notification: report it only once.
        if (read_monitors() != monitors_) {
            load_monitors();
            check_monitor();
        }
        return;
    }
    if (event.window != window_) {
        return;
    }
    // A reparenting window manager reports the position inside its frame; monitors are placed in
    // root coordinates.
    int root_x = event.x;
    int root_y = event.y;
    ::Window child = 0;
    XTranslateCoordinates(display_, window_, root_, 0, 0, &root_x, &root_y, &child);
    x = root_x;
    y = root_y;
    if (static_cast<std::uint32_t>(event.width) != w ||
        static_cast<std::uint32_t>(event.height) != h) {
        w = static_cast<std::uint32_t>(event.width);
        h = static_cast<std::uint32_t>(event.height);
    }
    check_monitor();
}

void WindowX11::on_client_message(XClientMessageEvent& event) {
    if (dnd_->on_client_message(event, WindowGeometry{x, y, w, h})) {
        return;
    }
    if (event.message_type != atoms_.wm_protocols || event.format != 32) {
        return;
    }
    const auto protocol = static_cast<Atom>(event.data.l[0]);
    if (protocol == atoms_.wm_delete_window) {
        set_flag(WINDOW_IS_CLOSED, true);
    } else if (protocol == atoms_.net_wm_ping) {
        event.window = root_;
        XSendEvent(display_, root_, False, SubstructureNotifyMask | SubstructureRedirectMask,
                   reinterpret_cast<XEvent*>(&event));
    }
}

void WindowX11::show_hidden_pointer() {
    if (has_flag(WINDOW_IS_POINTER_HIDDEN)) {
        XUndefineCursor(display_, window_);
        set_flag(WINDOW_IS_POINTER_HIDDEN, false);
    }
}

// A new monitor list starts with no current monitor, so the next check reports its choice.
void WindowX11::load_monitors() {
    monitors_ = read_monitors();
    current_monitor_.reset();
}

std::vector<MonitorGeometry> WindowX11::read_monitors() {
    std::vector<MonitorGeometry> monitors;
    if (!connection_->has_randr) {
        return monitors;
    }
    int count = 0;
    XRRMonitorInfo* list = XRRGetMonitors(display_, root_, True, &count);
    if (!list) {
        return monitors;
    }
    for (int i = 0; i < count; ++i) {
        const XRRMonitorInfo& info = list[i];
        MonitorGeometry monitor;
        monitor.x = info.x;
        monitor.y = info.y;
        monitor.width = static_cast<std::uint32_t>(info.width);
        monitor.height = static_cast<std::uint32_t>(info.height);
        monitor.mm_width = info.mwidth > 0 ? static_cast<std::uint32_t>(info.mwidth) : 0;
        if (info.name != None) {
            if (char* name = XGetAtomName(display_, info.name)) {
                monitor.name = name;
                XFree(name);
            }
        }
        monitors.push_back(std::move(monitor));
    }
    XRRFreeMonitors(list);
    return monitors;
}

void WindowX11::check_monitor() {
    const std::optional<std::size_t> chosen =
        choose_monitor(monitors_, current_monitor_, WindowGeometry{x, y, w, h});
    if (!chosen || chosen == current_monitor_) {
        return;
    }
    current_monitor_ = chosen;
    const MonitorGeometry& monitor = monitors_[*chosen];
    output_index = static_cast<std::uint32_t>(*chosen + 1);
    output_name = monitor.name;
    output_subpixel = 0;
    output_dpi = monitor_dpi(monitor.width, monitor.mm_width);
    if (callbacks) {
        callbacks->on_output_changed(output_index, output_name, output_subpixel, output_dpi);
    }
}

void WindowX11::send_net_wm_state(long action, Atom first, Atom second) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window_;
    event.xclient.message_type = atoms_.net_wm_state;
    event.xclient.format = 32;
    event.xclient.data.l[0] = action;
    event.xclient.data.l[1] = static_cast<long>(first);
    event.xclient.data.l[2] = static_cast<long>(second);
    event.xclient.data.l[3] = SOURCE_IS_APPLICATION;
    XSendEvent(display_, root_, False, SubstructureNotifyMask | SubstructureRedirectMask, &event);
}

void WindowX11::set_fullscreen(bool fullscreen) {
    send_net_wm_state(fullscreen ? NET_WM_STATE_ADD : NET_WM_STATE_REMOVE,
                      atoms_.net_wm_state_fullscreen);
    if (has_flag(WINDOW_IS_FULLSCREEN) != fullscreen) {
        set_flag(WINDOW_IS_FULLSCREEN, fullscreen);
    }
}

void WindowX11::set_maximized(bool maximized) {
    if (maximized && has_flag(WINDOW_IS_FULLSCREEN)) {
        set_fullscreen(false);
    }
    const long action = maximized ? NET_WM_STATE_ADD : NET_WM_STATE_REMOVE;
    send_net_wm_state(action, atoms_.net_wm_state_maximized_vert);
    send_net_wm_state(action, atoms_.net_wm_state_maximized_horz);
    set_flag(WINDOW_IS_MAXIMIZED, maximized);
}

void WindowX11::resize(std::uint32_t width, std::uint32_t height) {
    w = width;
    h = height;
    XWindowChanges changes{};
    changes.width = static_cast<int>(width);
    changes.height = static_cast<int>(height);
    XConfigureWindow(display_, window_, CWWidth | CWHeight, &changes);
    paint = true;
}

void WindowX11::set_title(const std::string& title) {
    XStoreName(display_, window_, title.c_str());
    XChangeProperty(display_, window_, atoms_.net_wm_name, atoms_.utf8_string, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(title.data()),
                    static_cast<int>(title.size()));
}

bool WindowX11::swap_if_needed(bool allow_drawing) {
    events();
    if (!paint || !allow_drawing || has_flag(WINDOW_IS_MINIMIZED) || window_gone_) {
        return false;
    }
    paint = false;
    const std::uint8_t age = query_buffer_age();
    const bool preserved = drawable_preserves_contents();
    std::optional<std::vector<DamageRect>> damage;
    if (callbacks) {
        damage = callbacks->draw(age);
    }
    present(damage, age, preserved);
    // Drawing waits on replies, and Xlib queues the events that arrive meanwhile; they are
    // handled now, since the main loop's poll only sees what is still in the socket. What
    // handling them asks of the server (a selection answer) is sent before the loop sleeps.
    dispatch_queued(QueuedAlready);
    XFlush(display_);
    return true;
}

std::optional<MonoTime> WindowX11::process_timers() {
    selections_->expire(mono_now());
    XFlush(display_);
    return selections_->next_deadline();
}

void WindowX11::clipboard_send(std::string text) {
    selections_->own(atoms_.clipboard, std::move(text));
    XFlush(display_);
}

void WindowX11::clipboard_get() {
    selections_->paste(atoms_.clipboard, callbacks);
}

// An empty text offers nothing and leaves the primary selection as it is.
void WindowX11::primary_send(std::string text) {
    if (text.empty()) {
        return;
    }
    selections_->own(XA_PRIMARY, std::move(text));
    XFlush(display_);
}

void WindowX11::primary_get() {
    selections_->paste(XA_PRIMARY, callbacks);
}

std::uint8_t WindowX11::query_buffer_age() {
    if (!has_buffer_age_) {
        return 0;
    }
    unsigned int age = 0;
    glXQueryDrawable(display_, glx_window_, GLX_BACK_BUFFER_AGE_EXT, &age);
    return static_cast<std::uint8_t>(age > 255 ? 255 : age);
}

bool WindowX11::drawable_preserves_contents() {
    unsigned int preserved = 0;
    glXQueryDrawable(display_, glx_window_, GLX_PRESERVED_CONTENTS, &preserved);
    return preserved != 0;
}

void WindowX11::present(const std::optional<std::vector<DamageRect>>& damage, std::uint8_t age,
                        bool preserved) {
    const bool has_swap_interval = swap_interval_ext_ || swap_interval_mesa_;
    if (copy_sub_buffer_ && has_swap_interval && age != 0 && preserved && damage &&
        !damage->empty()) {
        for (const DamageRect& rect : *damage) {
            copy_sub_buffer_(display_, glx_window_, rect.x, rect.y, rect.width, rect.height);
        }
        XFlush(display_);
        return;
    }
    glXSwapBuffers(display_, glx_window_);
}

void WindowX11::set_swap_interval(int interval) {
    if (swap_interval_ext_) {
        swap_interval_ext_(display_, glx_window_, interval);
    } else if (swap_interval_mesa_) {
        swap_interval_mesa_(static_cast<unsigned int>(interval < 0 ? 0 : interval));
    }
}

void WindowX11::set_current_context(bool current) {
    if (current) {
        glXMakeContextCurrent(display_, glx_window_, glx_window_, context_);
    } else {
        glXMakeContextCurrent(display_, None, None, nullptr);
    }
}

void WindowX11::set_incremental_resize(std::uint32_t cell_width, std::uint32_t cell_height) {
    write_size_hints(cell_width, cell_height, settings().padding.extra);
}

void WindowX11::set_pointer_style(MousePointerStyle style) {
    switch (style) {
        case MOUSE_POINTER_HIDDEN:
            XDefineCursor(display_, window_, blank_cursor_);
            set_flag(WINDOW_IS_POINTER_HIDDEN, true);
            return;
        case MOUSE_POINTER_ARROW:
            XUndefineCursor(display_, window_);
            break;
        case MOUSE_POINTER_I_BEAM:
            XDefineCursor(display_, window_, text_cursor_);
            break;
        default:
            XDefineCursor(display_, window_, hand_cursor_);
            break;
    }
    set_flag(WINDOW_IS_POINTER_HIDDEN, false);
}

void* WindowX11::get_gl_proc_address(const char* name) {
    return reinterpret_cast<void*>(glXGetProcAddressARB(reinterpret_cast<const GLubyte*>(name)));
}

void WindowX11::set_urgent() {
    send_net_wm_state(NET_WM_STATE_ADD, atoms_.net_wm_state_demands_attention);
}

void WindowX11::raise_or_lower(bool raise) {
    if (raise) {
        XRaiseWindow(display_, window_);
    } else {
        XLowerWindow(display_, window_);
    }
}

// Startup notification: the "remove" message goes to the root window in 20-byte client
// messages that name a throwaway window of our own.
void WindowX11::notify_startup_complete(const std::string& id) {
    const auto pieces = startup_remove_message_pieces(id);
    if (pieces.empty()) {
        return;
    }
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.event_mask = PropertyChangeMask | StructureNotifyMask;
    const ::Window sender =
        XCreateWindow(display_, root_, -100, -100, 1, 1, 0, CopyFromParent, InputOnly,
                      CopyFromParent, CWOverrideRedirect | CWEventMask, &attributes);
    bool first = true;
    for (const auto& piece : pieces) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = sender;
        event.xclient.message_type =
            first ? atoms_.net_startup_info_begin : atoms_.net_startup_info;
        event.xclient.format = 8;
        std::memcpy(event.xclient.data.b, piece.data(), piece.size());
        XSendEvent(display_, root_, False, PropertyChangeMask, &event);
        first = false;
    }
    XFlush(display_);
    XDestroyWindow(display_, sender);
}

}  // namespace

std::unique_ptr<Window> window_x11_create(std::uint32_t width, std::uint32_t height,
                                          std::uint32_t cell_width, std::uint32_t cell_height,
                                          WindowContextRequest context, UiState* ui) {
    std::unique_ptr<X11Connection> connection = X11Connection::open();
    if (!connection) {
        return nullptr;
    }
    return std::make_unique<WindowX11>(std::move(connection), width, height, cell_width,
                                       cell_height, context, ui);
}

}  // namespace zelto
