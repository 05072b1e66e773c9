#pragma once

#include "gfx_gl2/gfx.hpp"

namespace zelto {

// A renderer that draws nothing: cells have a fixed size and every frame is "whole". It stands in
// where no GL context exists and serves as a test double.
class GfxNull final : public Gfx {
public:
    GfxNull(std::uint32_t cell_width, std::uint32_t cell_height, std::uint32_t padding);

    std::optional<std::vector<DamageRect>> draw(Vt& vt, UiState& ui,
                                                std::uint8_t buffer_age) override;
    void resize(std::uint32_t width, std::uint32_t height, GridSize grid) override;
    GridSize get_grid_size(PixelSize pixels) const override;
    void init_with_context() override {}
    void reload_font() override {}
    PixelSize get_pixel_size(GridSize grid) const override;
    void invalidate() override {}
    void destroy_line_proxy(VtLineProxy&) override {}
    void destroy_image_proxy(VtImageProxy&) override {}
    void destroy_image_view_proxy(VtImageViewProxy&) override {}
    void destroy_sixel_proxy(VtSixelProxy&) override {}

    std::uint32_t frames_drawn() const { return frames_drawn_; }
    GridSize grid() const { return grid_; }

private:
    std::uint32_t cell_width_;
    std::uint32_t cell_height_;
    std::uint32_t padding_;
    std::uint32_t frames_drawn_ = 0;
    GridSize grid_{};
};

}  // namespace zelto
