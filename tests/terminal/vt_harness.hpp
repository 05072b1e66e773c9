#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "terminal/vt.hpp"

namespace zelto::test {

// Callbacks that count what the terminal asked for and play the renderer's part for proxies.
struct RecordingCallbacks : VtCallbacks {
    std::map<std::string, int> calls;
    std::vector<std::string> titles;
    // Proxy ids handed out and released: every id must be released exactly once.
    std::uint32_t next_proxy = 1;
    std::map<std::uint32_t, int> released;

    void on_activity() override { ++calls["on_activity"]; }
    void request_repaint() override { ++calls["request_repaint"]; }
    void on_visual_bell() override { ++calls["on_visual_bell"]; }
    void set_title(const char* title) override { titles.emplace_back(title); }
    void on_buffer_switched() override { ++calls["on_buffer_switched"]; }
    void on_scroll_position_changed() override { ++calls["on_scroll_position_changed"]; }
    void on_cursor_blink_changed(bool) override { ++calls["on_cursor_blink_changed"]; }
    void destroy_line_proxy(VtLineProxy& proxy) override {
        if (proxy.slots[0] != 0) ++released[proxy.slots[0]];
    }
};

// A terminal fed like the main loop feeds it, checked after every chunk.
class VtHarness {
public:
    explicit VtHarness(std::uint32_t cols = 80, std::uint32_t rows = 24);

    // Feeds `bytes` in chunks of `chunk` bytes (0: whole), checking invariants after each chunk
    // and drawing the visible lines (which hands out proxies) like the renderer would.
    void feed(std::string_view bytes, std::size_t chunk = 0);
    // Feeds split at the given offsets.
    void feed_split(std::string_view bytes, const std::vector<std::size_t>& offsets);

    // The visible screen as text, one line per row, trailing blanks trimmed.
    std::string screen() const;
    // One line of the buffer as text.
    std::string line_text(std::size_t index) const;
    // Everything observable: cells of every line, cursor, modes, titles, queue, parser state.
    std::string state_fingerprint() const;

    // Fails the current test when an invariant does not hold.
    void check_invariants() const;
    // Ids of proxies that live lines hold right now.
    std::vector<std::uint32_t> live_proxies() const;
    void draw();

    RecordingCallbacks callbacks;
    Vt vt;
};

std::string utf8(char32_t code);
std::string read_fixture(const std::string& name);
// The replies the terminal queued for the child, taken off the queue.
std::string take_replies(Vt& vt);
// The cursor's row counted from the top of the screen.
std::size_t screen_row(const Vt& vt);

}  // namespace zelto::test
