#pragma once

#include <cstdint>
#include <string>

namespace zelto {

struct VtLineProxy;
struct VtImageProxy;
struct VtImageViewProxy;
struct VtSixelProxy;

struct PixelSize {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

struct GridSize {
    std::uint32_t cols = 0;
    std::uint32_t rows = 0;
};

struct Position {
    std::int32_t x = 0;
    std::int32_t y = 0;
};

// What the terminal asks of its owner. The App implements every member; the defaults make small
// test doubles possible.
class VtCallbacks {
public:
    virtual ~VtCallbacks() = default;

    virtual PixelSize get_window_size() { return {}; }
    virtual PixelSize get_text_area_size() { return {}; }
    virtual PixelSize get_pixel_size_for_cells(std::uint32_t /*cols*/, std::uint32_t /*rows*/) {
        return {};
    }
    virtual GridSize get_grid_size() { return {}; }
    virtual Position get_window_position() { return {}; }
    virtual bool is_minimized() { return false; }
    virtual bool is_fullscreen() { return false; }
    virtual void on_activity() {}
    virtual void request_repaint() {}
    virtual void on_visual_bell() {}
    virtual void on_selection_cleared() {}
    virtual void desktop_notify(const char* /*title*/, const char* /*body*/) {}
    virtual void set_maximized(bool /*maximized*/) {}
    virtual void set_fullscreen(bool /*fullscreen*/) {}
    virtual void resize_window(std::uint32_t /*width*/, std::uint32_t /*height*/) {}
    virtual void resize_text_area(std::uint32_t /*width*/, std::uint32_t /*height*/) {}
    virtual void set_title(const char* /*title*/) {}
    virtual void request_clipboard(bool /*primary*/) {}
    virtual void on_font_changed() {}
    virtual void set_clipboard(std::string /*text*/) {}
    virtual void request_attention() {}
    virtual void raise_window() {}
    virtual void on_command_state_changed() {}
    virtual void update_pointer() {}
    virtual void on_buffer_switched() {}
    virtual void update_scrollbar() {}
    virtual void refresh_title() {}
    virtual void on_cursor_blink_changed(bool /*blinking*/) {}
    virtual std::string get_hostname() { return {}; }
    virtual void on_scroll_position_changed() {}
    virtual void on_progress_changed() {}
    virtual void destroy_line_proxy(VtLineProxy& /*proxy*/) {}
    virtual void destroy_image_proxy(VtImageProxy& /*proxy*/) {}
    virtual void destroy_image_view_proxy(VtImageViewProxy& /*proxy*/) {}
    virtual void destroy_sixel_proxy(VtSixelProxy& /*proxy*/) {}
};

}  // namespace zelto
