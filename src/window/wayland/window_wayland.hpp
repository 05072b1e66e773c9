#pragma once

#include <cstdint>
#include <memory>

#include "window/window.hpp"

namespace zelto {

// Opens an xdg-shell toplevel with an EGL window surface for OpenGL on the compositor named by
// the environment, mapped and with `paint` set. The cell size is not used. Null when no
// compositor answers; any failure after that ends the process.
std::unique_ptr<Window> window_wayland_create(std::uint32_t width, std::uint32_t height,
                                              std::uint32_t cell_width, std::uint32_t cell_height,
                                              WindowContextRequest context, UiState* ui);

// What the Wayland window can tell about itself beyond the common window state.
class WaylandWindowInfo {
  public:
    virtual ~WaylandWindowInfo() = default;
    // The compositor draws no decorations, so zelto draws its own title bar.
    virtual bool client_side_decorations() const = 0;
    // The compositor asked for the next frame since the last one was presented.
    virtual bool frame_arrived() const = 0;
    // The shadow subsurface around a client-side decorated window currently has a buffer.
    virtual bool shadow_shown() const = 0;
    virtual std::uint32_t bound_output_count() const = 0;
    // Clipboard and primary-selection offers held from other clients.
    virtual std::size_t live_offer_count() const = 0;
    // Requestors that zelto is still writing its selection to.
    virtual std::size_t serving_count() const = 0;
    // The seat currently offers a pointer, and the window listens to it.
    virtual bool has_pointer() const = 0;
};

}  // namespace zelto
