#include "gfx_gl2/gfx_null.hpp"

namespace zelto {

GfxNull::GfxNull(std::uint32_t cell_width, std::uint32_t cell_height, std::uint32_t padding)
    : cell_width_(cell_width), cell_height_(cell_height), padding_(padding) {}

std::optional<std::vector<DamageRect>> GfxNull::draw(Vt&, UiState&, std::uint8_t) {
    ++frames_drawn_;
    return std::nullopt;
}

void GfxNull::resize(std::uint32_t, std::uint32_t, GridSize grid) { grid_ = grid; }

// The same rule as the GL renderer: nothing fits below one cell plus padding, and a window that
// fits one cell but not two still gets one.
GridSize GfxNull::get_grid_size(PixelSize pixels) const {
    const std::uint64_t w = cell_width_, h = cell_height_, p = padding_;
    if (pixels.width < w + 2 * p || pixels.height < h + 2 * p) return {};
    GridSize grid{static_cast<std::uint32_t>((pixels.width - 2 * p) / w),
                  static_cast<std::uint32_t>((pixels.height - 2 * p) / h)};
    if (pixels.width < 2 * (w + p)) grid.cols = 1;
    if (pixels.height < 2 * p + 2 * h) grid.rows = 1;
    return grid;
}

PixelSize GfxNull::get_pixel_size(GridSize grid) const {
    return {grid.cols * cell_width_, grid.rows * cell_height_};
}

}  // namespace zelto
