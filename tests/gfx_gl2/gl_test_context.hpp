#pragma once

#include <cstdint>
#include <vector>

#include "gfx_gl2/gfx.hpp"

namespace zelto::test {

// An OpenGL 2.1 context from Mesa's software rasteriser with no display: EGL on the surfaceless
// platform, drawing into a pbuffer of the given size that serves as the "window". One EGL
// display and context live for the whole test process; each instance has its own pbuffer and
// makes it current.
class OffscreenGl {
  public:
    OffscreenGl(std::uint32_t width, std::uint32_t height);
    ~OffscreenGl();
    OffscreenGl(const OffscreenGl&) = delete;
    OffscreenGl& operator=(const OffscreenGl&) = delete;

    std::uint32_t width() const { return width_; }
    std::uint32_t height() const { return height_; }

    // The loader the App would hand to the renderer.
    static GlProcLoader loader();

    // RGBA bytes of the bound framebuffer's region, top row first.
    static std::vector<std::uint8_t> read_pixels(std::int32_t x, std::int32_t y,
                                                 std::uint32_t width, std::uint32_t height);
    std::vector<std::uint8_t> read_window() const { return read_pixels(0, 0, width_, height_); }

    // The coverage (red channel) of a single-channel or RGBA texture, top row first as uploaded.
    static std::vector<std::uint8_t> read_texture(std::uint32_t texture, std::uint32_t width,
                                                  std::uint32_t height, bool rgba = false);

  private:
    std::uint32_t width_;
    std::uint32_t height_;
    void* surface_ = nullptr;
};

}  // namespace zelto::test
