#pragma once

#include <sys/timerfd.h>
#include <unistd.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "window/window.hpp"

namespace zelto::testing {

// A window that exists without a display: its connection is a timer that ticks every
// `tick_ms`, so an idle loop wakes up regularly and a test can bound how long it runs.
class FakeWindow final : public Window {
public:
    explicit FakeWindow(std::uint32_t width, std::uint32_t height, int tick_ms = 50) {
        w = width;
        h = height;
        paint = true;
        set_flag(WINDOW_IS_FOCUSED, true);
        timer_fd_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
        itimerspec spec{};
        spec.it_interval.tv_nsec = tick_ms * 1'000'000L;
        spec.it_value = spec.it_interval;
        timerfd_settime(timer_fd_, 0, &spec, nullptr);
    }
    ~FakeWindow() override { close(timer_fd_); }

    void set_fullscreen(bool on) override { set_flag(WINDOW_IS_FULLSCREEN, on); }
    void set_maximized(bool on) override { set_flag(WINDOW_IS_MAXIMIZED, on); }
    void minimize() override { set_flag(WINDOW_IS_MINIMIZED, true); }
    void resize(std::uint32_t width, std::uint32_t height) override {
        w = width;
        h = height;
    }
    void events() override {
        std::uint64_t ticks = 0;
        if (read(timer_fd_, &ticks, sizeof ticks) > 0) event_calls += ticks;
    }
    std::optional<MonoTime> process_timers() override { return next_repeat; }
    void set_title(const std::string& text) override { title = text; }
    bool swap_if_needed(bool allow_drawing) override {
        if (!paint || !allow_drawing) return false;
        paint = false;
        callbacks->draw(0);
        ++frames;
        return true;
    }
    int get_connection_fd() const override { return timer_fd_; }
    void clipboard_send(std::string text) override { clipboard = std::move(text); }
    void clipboard_get() override { ++clipboard_requests; }
    void primary_send(std::string text) override { primary = std::move(text); }
    void primary_get() override { ++primary_requests; }
    void set_swap_interval(int) override {}
    void set_current_context(bool) override {}
    void set_incremental_resize(std::uint32_t cell_width, std::uint32_t cell_height) override {
        incremental_resize = {cell_width, cell_height};
    }
    void set_pointer_style(MousePointerStyle style) override {
        pointer_style = style;
        ++pointer_style_calls;
    }
    void* get_gl_proc_address(const char*) override { return nullptr; }
    std::uint32_t get_keysym_from_name(const char* name) override {
        const auto found = key_names.find(name);
        return found != key_names.end() ? found->second : 0;
    }
    void set_urgent() override { ++urgent_calls; }
    void raise_or_lower(bool) override {}
    std::int64_t get_window_id() const override { return 1; }
    void notify_startup_complete(const std::string& id) override { startup_id = id; }
    const void* get_backend_state() const override { return &frame_interval; }

    double frame_interval = 16.0;
    std::optional<MonoTime> next_repeat;
    std::uint64_t event_calls = 0;
    int frames = 0;
    int urgent_calls = 0;
    std::string title;
    std::string clipboard;
    std::string primary;
    int clipboard_requests = 0;
    int primary_requests = 0;
    MousePointerStyle pointer_style = MOUSE_POINTER_ARROW;
    int pointer_style_calls = 0;
    std::optional<PixelSize> incremental_resize;
    std::map<std::string, std::uint32_t> key_names;  // what get_keysym_from_name knows
    std::string startup_id = "<never notified>";

private:
    int timer_fd_ = -1;
};

}  // namespace zelto::testing
