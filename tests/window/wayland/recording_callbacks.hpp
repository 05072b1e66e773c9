#pragma once

#include <GL/gl.h>
#include <poll.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "window/window.hpp"

namespace zelto::test {

// Records what a window reports; each drawn frame is a clear in a colour that changes, so
// consecutive frames differ.
class RecordingCallbacks : public WindowCallbacks {
  public:
    struct Key {
        std::uint32_t key;
        std::uint32_t raw;
        std::uint32_t modifiers;
    };
    struct Button {
        std::uint32_t button;
        bool pressed;
        std::int32_t x;
        std::int32_t y;
        std::int32_t steps;
        std::uint32_t modifiers;
    };
    struct Motion {
        std::uint32_t button;
        std::int32_t x;
        std::int32_t y;
    };
    struct Output {
        std::uint32_t index;
        std::string name;
        std::uint32_t subpixel;
        std::uint16_t dpi;
    };

    void key_handler(std::uint32_t key, std::uint32_t raw, std::uint32_t modifiers) override {
        keys.push_back({key, raw, modifiers});
    }
    void button_handler(std::uint32_t button, bool pressed, std::int32_t x, std::int32_t y,
                        std::int32_t steps, std::uint32_t modifiers) override {
        buttons.push_back({button, pressed, x, y, steps, modifiers});
    }
    void motion_handler(std::uint32_t button, std::int32_t x, std::int32_t y) override {
        motions.push_back({button, x, y});
    }
    void on_clipboard_data(std::string_view text) override { pasted.emplace_back(text); }
    void on_activity() override { ++activity; }
    std::optional<std::vector<DamageRect>> draw(std::uint8_t) override {
        ++frames;
        glClearColor(static_cast<float>(frames % 2), 0.2f, 0.4f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        return std::nullopt;
    }
    void on_focus_changed(bool focused) override { focus_changes.push_back(focused); }
    void on_selection_lost() override { ++selections_lost; }
    void on_output_changed(std::uint32_t index, const std::string& name, std::uint32_t subpixel,
                           std::uint16_t dpi) override {
        outputs.push_back({index, name, subpixel, dpi});
    }
    void invalidate() override {}
    void on_decoration_mode_changed(std::uint32_t mode) override {
        decoration_modes.push_back(mode);
    }

    int frames = 0;
    int activity = 0;
    int selections_lost = 0;
    std::vector<std::string> pasted;
    std::vector<Key> keys;
    std::vector<Button> buttons;
    std::vector<Motion> motions;
    std::vector<bool> focus_changes;
    std::vector<Output> outputs;
    std::vector<std::uint32_t> decoration_modes;
};

// One pass of the App's main loop: wait for the connection (or the next repeat), dispatch, run
// the timers, draw. Whether a frame was presented.
inline bool loop_pass(Window& window, int timeout_ms = 50) {
    pollfd fd{window.get_connection_fd(), POLLIN, 0};
    if (poll(&fd, 1, timeout_ms) > 0) {
        window.events();
    }
    window.process_timers();
    return window.swap_if_needed(true);
}

// Runs loop passes until `done` holds or ten seconds pass; whether it held.
inline bool run_until(Window& window, const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        loop_pass(window);
    }
    return true;
}

}  // namespace zelto::test
