#include "app/app.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "app/key_bindings.hpp"
#include "app/key_commands.hpp"
#include "config/settings.hpp"
#include "util/diagnostics.hpp"

namespace zelto {

namespace {

constexpr std::int64_t MAX_WAIT_MS = INT_MAX;
constexpr std::uint32_t MAX_WINDOW_PIXELS = 32767;
constexpr std::int64_t MAX_READ_BATCH_MS = 100;

std::uint8_t to_offset(std::int64_t value) {
    return static_cast<std::uint8_t>(std::clamp<std::int64_t>(value, 0, UINT8_MAX));
}

std::uint32_t clamp_to_u32(std::int64_t value) {
    return static_cast<std::uint32_t>(std::clamp<std::int64_t>(value, 0, UINT32_MAX));
}

}  // namespace

App::App(AppBackends backends) : backends_(std::move(backends)) {}

App::~App() {
    shutdown();
}

int App::run() {
    start();
    while (should_run()) loop_pass();
    shutdown();
    return 0;
}

void App::start() {
    const Settings& s = settings();

    // An empty identifier is treated as absent and stays in the environment.
    if (const char* id = std::getenv("DESKTOP_STARTUP_ID"); id && *id) {
        startup_id_ = id;
        unsetenv("DESKTOP_STARTUP_ID");
    }

    pty_.set_exit_callback([this] { on_child_exit(); });
    register_timers();

    if (!s.directory.empty() && chdir(s.directory.c_str()) != 0) {
        warn("Failed to change directory: %s\n", std::strerror(errno));
    }

    pty_.start(static_cast<std::uint16_t>(s.columns), static_cast<std::uint16_t>(s.rows));
    vt_.emplace(s.columns, s.rows, static_cast<VtCallbacks&>(*this));
    vt_->set_pty_fd(pty_.master_fd());

    if (backends_.make_fonts) fonts_ = backends_.make_fonts();
    gfx_ = backends_.make_gfx(fonts_.get());
    gfx_->set_gl_loader([this](const char* name) {
        void* proc = window_->get_gl_proc_address(name);
        if (!proc) fatal("Failed to load extension proc adress for: %s", name);
        return proc;
    });

    const GridSize startup_grid = fit_startup_grid();
    const PixelSize grid_pixels = gfx_->get_pixel_size(startup_grid);
    const std::uint32_t pad = 2u * s.padding.extra;
    const PixelSize window_pixels{grid_pixels.width + pad, grid_pixels.height + pad};
    const PixelSize cell{grid_pixels.width / std::max(1u, startup_grid.cols),
                         grid_pixels.height / std::max(1u, startup_grid.rows)};
    create_window(window_pixels, cell);

    window_->callbacks = this;
    window_->ui = &ui_;
    on_output_changed(window_->output_index, window_->output_name, window_->output_subpixel,
                      window_->output_dpi);
    resolve_key_names();

    window_->set_swap_interval(1);
    gfx_->init_with_context();

    window_size_ = {window_->w, window_->h};
    const GridSize grid = grid_for_window();
    vt_->resize(grid.cols, grid.rows);
    gfx_->resize(window_size_.width, window_size_.height, grid);

    pty_.set_window_fd(window_->get_connection_fd());

    ui_.scrollbar_width = s.scrollbar.width;
    ui_.link_hovered = false;
    ui_.cursor_alpha = 1.0;
    ui_.cursor_visible = true;
    cursor_blink_active_ = false;
    cursor_blink_allowed_ = true;
    text_blink_armed_ = true;  // the first pass corrects it

    on_focus_changed(window_->has_flag(WINDOW_IS_FOCUSED));
    // The Wayland backend stores the mode it negotiated itself; the buttons come with it.
    if (ui_.decoration_mode != 0) on_decoration_mode_changed(ui_.decoration_mode);
    window_->events();

    const char* desktop = std::getenv("XDG_CURRENT_DESKTOP");
    const char* session = std::getenv("XDG_SESSION_TYPE");
    if (desktop && session && std::strcmp(desktop, "KDE") == 0 &&
        std::strcmp(session, "wayland") == 0) {
        window_->resize(window_size_.width, window_size_.height);
    }

    place_grid();
    on_activity();
    gfx_->invalidate();

    window_->notify_startup_complete(startup_id_);
    startup_id_.clear();
}

// Key names can only be looked up through the window system; an unknown one never matches.
void App::resolve_key_names() {
    for (KeyBinding* binding : key_bindings(settings())) {
        if (!binding->is_name) continue;
        binding->key = window_->get_keysym_from_name(binding->name.c_str());
        if (binding->key == 0) warn("Invalid key name '%s'\n", binding->name.c_str());
        binding->name.clear();
        binding->is_name = false;
    }
}

// Window systems take sizes up to 32767 pixels: a larger requested grid is reduced to fit.
// The terminal and the pty follow the window's real grid at the end of start-up.
GridSize App::fit_startup_grid() const {
    const Settings& s = settings();
    const PixelSize cell = gfx_->get_pixel_size({1, 1});
    const std::uint32_t room = MAX_WINDOW_PIXELS - 2u * s.padding.extra;
    const GridSize fitting{cell.width ? std::max(1u, room / cell.width) : s.columns,
                           cell.height ? std::max(1u, room / cell.height) : s.rows};
    const GridSize grid{std::min(s.columns, fitting.cols), std::min(s.rows, fitting.rows)};
    if (grid.cols != s.columns || grid.rows != s.rows) {
        warn("A grid of %u x %u cells does not fit in a window, using %u x %u\n", s.columns, s.rows,
             grid.cols, grid.rows);
    }
    return grid;
}

void App::create_window(PixelSize size, PixelSize cell) {
    const WindowContextRequest context{WINDOW_API_GL, 2, 1};
    if (!settings().xorg_only && backends_.wayland) {
        window_ =
            backends_.wayland(size.width, size.height, cell.width, cell.height, context, &ui_);
    }
    if (!window_ && backends_.x11) {
        window_ = backends_.x11(size.width, size.height, cell.width, cell.height, context, &ui_);
    }
    if (!window_) fatal("Failed to create window");
}

bool App::should_run() const {
    return window_ && !exit_requested_ && !window_->has_flag(WINDOW_IS_CLOSED);
}

int App::compute_wait() const {
    // Bytes for the child go out at once, unless the pty is full: then the poll waits for room
    // instead of the loop spinning while the child does not read.
    if (vt_->has_pending_output() && !pty_.child_exited() && !pty_full_) return 0;
    std::optional<MonoTime> deadline = key_repeat_deadline_;
    // An update that is never ended still ends on time, even when no more output arrives.
    if (const auto sync_end = vt_->synchronized_update_deadline()) {
        if (!deadline || *sync_end < *deadline) deadline = sync_end;
    }
    std::optional<std::int64_t> ms = timers_.next_wait(window_->frame_interval_ms(), deadline);
    // A repaint asked for while the last frame was presented waits for the next frame, not for
    // the next event.
    if (window_->paint && !window_->has_flag(WINDOW_IS_MINIMIZED)) {
        const auto frame = static_cast<std::int64_t>(std::ceil(window_->frame_interval_ms()));
        ms = ms ? std::min(*ms, frame) : frame;
    }
    if (!ms) return -1;
    return static_cast<int>(std::clamp<std::int64_t>(*ms, 0, MAX_WAIT_MS));
}

void App::loop_pass() {
    pty_.wait(compute_wait(), pty_full_ && vt_->has_pending_output());

    key_repeat_deadline_.reset();
    if (pty_.window_readable()) window_->events();
    key_repeat_deadline_ = window_->process_timers();

    read_pty_batch();
    vt_->end_expired_synchronized_update(mono_now());
    write_pty();

    if (window_->w != window_size_.width || window_->h != window_size_.height || layout_pending_) {
        relayout(window_->w, window_->h);
    }
    run_timers();
    update_cursor_animation();
    if (ui_.link_hovered) refresh_link_hover();
    draw_frame();
}

void App::draw_frame() {
    if (vt_->in_synchronized_update()) {
        if (window_->paint && !frame_drawn_in_sync_) {
            window_->swap_if_needed(true);
            timers_.set_last_frame(mono_now());
        } else {
            window_->swap_if_needed(false);
        }
        frame_drawn_in_sync_ = true;
    } else {
        frame_drawn_in_sync_ = false;
        const MonoTime before = mono_now();
        if (window_->swap_if_needed(true)) last_draw_ms_ = mono_diff_ms(mono_now(), before);
        timers_.set_last_frame(mono_now());
    }
}

// While output floods in, a frame that takes longer to draw than a read batch lasts would leave
// most of the time to drawing: the batch then lasts as long as the last frame took (up to a
// bound that keeps the screen moving). A timeout of 0 asks for the least latency and is kept.
std::int64_t App::read_batch_budget_ms() const {
    const std::int64_t timeout = settings().io_chunk_delay.timeout_ms;
    if (timeout == 0) return 0;
    return std::max(timeout, std::min(last_draw_ms_, MAX_READ_BATCH_MS));
}

void App::read_pty_batch() {
    const Settings& s = settings();
    if (s.debug_vt) {
        std::this_thread::sleep_for(std::chrono::microseconds(s.debug_vt));
        window_->paint = true;
    }
    read_batch_start_ = mono_now();
    const std::int64_t budget = read_batch_budget_ms();
    for (;;) {
        if (!s.debug_vt && mono_diff_ms(mono_now(), read_batch_start_) > budget) break;
        const std::string_view bytes = pty_.read();
        if (bytes.empty()) break;
        vt_->interpret(bytes);
        on_activity();
        if (s.io_chunk_delay.time_us) {
            std::this_thread::sleep_for(std::chrono::microseconds(s.io_chunk_delay.time_us));
        }
        if (s.debug_vt) break;
    }
}

void App::write_pty() {
    // Once the child is gone nobody will read what is queued.
    if (pty_.child_exited()) {
        vt_->consume_output(vt_->pending_output(SIZE_MAX).size());
        return;
    }
    const std::string_view chunk = vt_->pending_output(WRITE_CHUNK);
    if (chunk.empty()) return;
    const long written = pty_.write(chunk);
    pty_full_ = written <= 0;
    if (written > 0) vt_->consume_output(static_cast<std::size_t>(written));
}

void App::on_child_exit() {
    if (!settings().hold) exit_requested_ = true;
}

void App::shutdown() {
    if (!vt_ && !window_ && !gfx_) return;
    pty_.hangup();
    vt_.reset();
    gfx_.reset();
    ui_.title_bar_buttons.clear();
    fonts_.reset();
    if (window_) {
        window_->callbacks = nullptr;
        window_->ui = nullptr;
        window_.reset();
    }
}

bool App::has_title_bar() const {
    const bool fullscreen = window_ && window_->has_flag(WINDOW_IS_FULLSCREEN);
    return (ui_.decoration_mode == 1 || ui_.decoration_mode == 2) &&
           ui_.decorations_suppressed == 0 && !fullscreen;
}

// The renderer takes the padding off itself, so it gets the whole area below the title bar:
// taking it off here too would lose a column and a row of the grid the window was sized for.
// Computed in a signed, wider type, so a window shorter than its title bar gives an empty grid.
GridSize App::grid_for_window() const {
    std::int64_t height = window_size_.height;
    if (has_title_bar()) height -= TITLE_BAR_HEIGHT;
    return gfx_->get_grid_size({window_size_.width, clamp_to_u32(height)});
}

void App::place_grid() {
    const Settings& s = settings();
    const GridSize grid = grid_for_window();
    const PixelSize grid_pixels = gfx_->get_pixel_size(grid);
    std::int64_t x = 0, y = 0;
    if (s.padding.center) {
        std::int64_t height = window_size_.height;
        if (has_title_bar()) height -= TITLE_BAR_HEIGHT;
        x = (static_cast<std::int64_t>(window_size_.width) - grid_pixels.width) / 2;
        y = (height - static_cast<std::int64_t>(grid_pixels.height)) / 2;
    }
    x += s.padding.extra;
    y += s.padding.extra;
    if (has_title_bar()) y += TITLE_BAR_HEIGHT;
    ui_.grid_x_offset = to_offset(x);
    ui_.grid_y_offset = to_offset(y);
}

void App::relayout(std::uint32_t width, std::uint32_t height) {
    layout_pending_ = false;
    if (has_title_bar()) height = std::max(height, TITLE_BAR_HEIGHT);
    window_size_ = {width, height};
    const GridSize grid = grid_for_window();
    vt_->damage_all();
    gfx_->destroy_line_proxy(ui_.overlay_proxy);
    gfx_->resize(width, height, grid);
    place_grid();
    vt_->resize(grid.cols, grid.rows);
    if (keyboard_select_.active()) keyboard_select_.clamp_into_view();
    window_->paint = true;
    gfx_->invalidate();
    update_cursor_animation();
    place_title_bar_buttons();
}

// The close, maximise and minimise buttons sit 37 px apart from the right edge inwards.
void App::place_title_bar_buttons() {
    for (std::size_t i = 0; i < ui_.title_bar_buttons.size(); ++i) {
        TitleBarButton& button = ui_.title_bar_buttons[i];
        button.x =
            static_cast<std::int32_t>(window_size_.width) - 17 - 37 * static_cast<std::int32_t>(i);
        button.y = 18;
    }
}

// VtCallbacks

PixelSize App::get_window_size() {
    return {window_->w, window_->h};
}

PixelSize App::get_text_area_size() {
    const std::int64_t pad = 2 * static_cast<std::int64_t>(settings().padding.extra);
    return {clamp_to_u32(window_->w - pad), clamp_to_u32(window_->h - pad)};
}

PixelSize App::get_pixel_size_for_cells(std::uint32_t cols, std::uint32_t rows) {
    return gfx_->get_pixel_size({cols, rows});
}

GridSize App::get_grid_size() {
    return grid_for_window();
}

Position App::get_window_position() {
    return {window_->x, window_->y};
}

bool App::is_minimized() {
    return window_->has_flag(WINDOW_IS_MINIMIZED);
}

bool App::is_fullscreen() {
    return window_->has_flag(WINDOW_IS_FULLSCREEN);
}

void App::request_repaint() {
    if (window_) window_->paint = true;
}

void App::set_maximized(bool maximized) {
    window_->set_maximized(maximized);
}

void App::set_fullscreen(bool fullscreen) {
    window_->set_fullscreen(fullscreen);
    relayout(window_->w, window_->h);
}

void App::resize_window(std::uint32_t width, std::uint32_t height) {
    if (width > 65535 || height > 65535) {
        warn("requested window size too large");
        return;
    }
    window_->resize(width, height);
    relayout(window_->w, window_->h);
    gfx_->invalidate();
}

void App::resize_text_area(std::uint32_t width, std::uint32_t height) {
    const std::uint32_t pad = 2u * settings().padding.extra;
    window_->resize(width + pad, height + pad);
}

void App::set_title(const char* title) {
    vt_title_ = title ? title : "";
}

void App::request_clipboard(bool primary) {
    if (primary) {
        window_->primary_get();
    } else {
        window_->clipboard_get();
    }
}

void App::set_clipboard(std::string text) {
    window_->clipboard_send(std::move(text));
}

void App::request_attention() {
    if (!window_->has_flag(WINDOW_IS_FOCUSED)) window_->set_urgent();
    if (has_title_bar()) {
        ui_.title_bar_attention = true;
        gfx_->invalidate();
    }
}

void App::raise_window() {
    window_->raise_or_lower(true);
}

void App::on_buffer_switched() {
    vt_->damage_all();
    gfx_->invalidate();
}

void App::destroy_line_proxy(VtLineProxy& proxy) {
    if (gfx_) gfx_->destroy_line_proxy(proxy);
}

void App::destroy_image_proxy(VtImageProxy& proxy) {
    if (gfx_) gfx_->destroy_image_proxy(proxy);
}

void App::destroy_image_view_proxy(VtImageViewProxy& proxy) {
    if (gfx_) gfx_->destroy_image_view_proxy(proxy);
}

void App::destroy_sixel_proxy(VtSixelProxy& proxy) {
    if (gfx_) gfx_->destroy_sixel_proxy(proxy);
}

// WindowCallbacks

// Keyboard select mode takes every key while it is on, then the bindings are tried; any other
// key goes to the child through the key encoder.
void App::key_handler(std::uint32_t key, std::uint32_t raw_keysym, std::uint32_t modifiers) {
    const KeyEvent event{key, raw_keysym, modifiers};
    if (keyboard_select_.active()) {
        keyboard_select_.handle_key(event);
        return;
    }
    KeyCommands commands(*this);
    if (commands.run_binding(event)) return;
    last_key_modifiers_ = modifiers;
    commands.hide_pointer_for_key();
    vt_->key_input({key, key_has_text(key, raw_keysym), modifiers});
}

// The window reports a key's text as its code point, else its keysym. Function keysyms lie in
// 0xFF00-0xFFFF, where fullwidth characters lie too: a value there is a keysym when the key's
// own symbol is a function keysym (typed text has a Unicode or no symbol).
bool App::key_has_text(std::uint32_t key, std::uint32_t raw_keysym) {
    const bool in_keysym_range = key >= 0xFF00 && key <= 0xFFFF;
    const bool function_symbol = raw_keysym >= 0xFE00 && raw_keysym <= 0xFFFF;
    return !(in_keysym_range && (function_symbol || raw_keysym == key));
}

void App::on_clipboard_data(std::string_view text) {
    vt_->paste(text);
}

std::optional<std::vector<DamageRect>> App::draw(std::uint8_t buffer_age) {
    return gfx_->draw(*vt_, ui_, buffer_age);
}

void App::on_focus_changed(bool focused) {
    window_->paint = true;
    ui_.focused = focused;
    ui_.title_bar_attention = false;
    if (has_title_bar()) gfx_->invalidate();
    if (!focused) copy_selection_to_primary();
    vt_->focus_changed(focused);
}

void App::on_output_changed(std::uint32_t, const std::string&, std::uint32_t, std::uint16_t) {}

void App::invalidate() {
    gfx_->invalidate();
}

void App::on_decoration_mode_changed(std::uint32_t mode) {
    if (ui_.title_bar_buttons.empty()) {
        for (std::uint32_t kind = 0; kind < 3; ++kind) ui_.title_bar_buttons.push_back({kind});
        place_title_bar_buttons();
    }
    if (mode == ui_.decoration_mode) return;
    ui_.decoration_mode = mode;
    layout_pending_ = true;
    ui_.title_bar_redraw = true;
    gfx_->invalidate();
}

}  // namespace zelto
