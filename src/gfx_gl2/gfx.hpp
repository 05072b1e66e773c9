#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "gfx_gl2/ui_state.hpp"
#include "terminal/vt_callbacks.hpp"

namespace zelto {

class Vt;

struct DamageRect {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
};

// Resolves an OpenGL entry point by name through the window system.
using GlProcLoader = std::function<void*(const char* name)>;

// The renderer as the App sees it.
class Gfx {
public:
    virtual ~Gfx() = default;

    // Draws one frame; the damaged rectangles, or none when the whole frame changed. Rendering
    // clears the lines' damage and fills their proxies and the overlay proxy of `ui`.
    virtual std::optional<std::vector<DamageRect>> draw(Vt& vt, UiState& ui,
                                                        std::uint8_t buffer_age) = 0;
    virtual void resize(std::uint32_t width, std::uint32_t height, GridSize grid) = 0;
    virtual GridSize get_grid_size(PixelSize pixels) const = 0;
    virtual void init_with_context() = 0;
    virtual void reload_font() = 0;
    virtual PixelSize get_pixel_size(GridSize grid) const = 0;
    virtual void invalidate() = 0;
    virtual void destroy_line_proxy(VtLineProxy& proxy) = 0;
    virtual void destroy_image_proxy(VtImageProxy& proxy) = 0;
    virtual void destroy_image_view_proxy(VtImageViewProxy& proxy) = 0;
    virtual void destroy_sixel_proxy(VtSixelProxy& proxy) = 0;

    // Whether the last frame showed blinking text.
    virtual bool has_blinking_text() const { return false; }

    void set_gl_loader(GlProcLoader loader) { load_gl_proc_ = std::move(loader); }

protected:
    GlProcLoader load_gl_proc_;
};

}  // namespace zelto
