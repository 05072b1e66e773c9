// Composing a frame: line textures brought up to date and copied to the window, the cursor and
// the overlays on top, and the rectangles that changed since the buffer's last frame.
#include <algorithm>
#include <cmath>

#include "gfx_gl2/gfx_opengl2.hpp"
#include "terminal/vt.hpp"

namespace zelto {

namespace {

bool touches(const DamageRect& a, const DamageRect& b) {
    return a.x <= b.x + b.width && b.x <= a.x + a.width && a.y <= b.y + b.height &&
           b.y <= a.y + a.height;
}

DamageRect bounding_box(const DamageRect& a, const DamageRect& b) {
    const std::int32_t x0 = std::min(a.x, b.x), y0 = std::min(a.y, b.y);
    const std::int32_t x1 = std::max(a.x + a.width, b.x + b.width);
    const std::int32_t y1 = std::max(a.y + a.height, b.y + b.height);
    return {x0, y0, x1 - x0, y1 - y0};
}

}  // namespace

std::optional<std::vector<DamageRect>> GfxOpenGL2::draw(Vt& vt, UiState& ui,
                                                        std::uint8_t buffer_age) {
    stats_ = {};
    ++frame_;
    rect_count_ = 0;
    if (buffer_age == 0 || buffer_age != previous_age_) {
        invalidate();
        previous_age_ = buffer_age;
    }
    age_ = buffer_age;
    grid_x_ = ui.grid_x_offset;
    grid_y_ = ui.grid_y_offset;
    const std::size_t rows = vt.rows();
    shift_history(rows);
    FrameRecord& now = history_[0];
    now.whole = ui.scrollbar_shown || (!ui.focused && settings_.unfocused_tint.a != 0) ||
                ui.bell_intensity != 0 || ui.link_hovered || vt.scrolled_back();
    partial_ = age_ >= 2 && age_ < HISTORY_SLOTS && !now.whole;
    for (std::size_t k = 1; partial_ && k <= age_; ++k) partial_ = !history_[k].whole;

    visible_.clear();
    for (std::size_t r = 0; r < rows; ++r) visible_.push_back(vt.visible_line(r));

    gl.bind_framebuffer(GL_FRAMEBUFFER, 0);
    glDisable(GL_SCISSOR_TEST);
    glDisable(GL_DEPTH_TEST);
    set_viewport(0, 0, static_cast<GLsizei>(width_), static_cast<GLsizei>(height_));
    const ColorRGBA bg = vt.default_bg();
    glClearColor(bg.r / 255.0f, bg.g / 255.0f, bg.b / 255.0f, bg.a / 255.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    ++stats_.draw_calls;

    draw_rows(vt, ui);
    if (vt.unicode_entry().active()) {
        draw_unicode_entry(vt);
    } else {
        draw_cursor(vt, ui);
    }
    draw_overlays(vt, ui);

    for (std::size_t k = 0; partial_ && k <= age_ && k < HISTORY_SLOTS; ++k) {
        if (history_[k].cursor_drawn) add_damage(history_[k].cursor);
    }
    if (settings_.debug_gfx) draw_debug_marks();
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    textures_.collect_unused(frame_);
    if (!partial_ || settings_.debug_gfx) return std::nullopt;
    return std::vector<DamageRect>(rects_.begin(),
                                   rects_.begin() + static_cast<std::ptrdiff_t>(rect_count_));
}

// The damage outlined in red, and a corner triangle on every other frame: a frame-parity
// flicker that shows when frames are drawn.
void GfxOpenGL2::draw_debug_marks() {
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    use_program(PROGRAM_SOLID);
    gl.uniform4f(programs_[PROGRAM_SOLID]->uniform(0), 1, 0, 0, 1);
    for (std::size_t i = 0; partial_ && i < rect_count_; ++i) {
        const DamageRect& r = rects_[i];
        const float x0 = static_cast<float>(r.x) * sx_ - 1;
        const float x1 = static_cast<float>(r.x + r.width) * sx_ - 1;
        const float y0 = static_cast<float>(r.y) * sy_ - 1;
        const float y1 = static_cast<float>(r.y + r.height) * sy_ - 1;
        const float loop[16] = {x0, y0, 0, 0, x1, y0, 0, 0, x1, y1, 0, 0, x0, y1, 0, 0};
        stream(loop, 16);
        draw_arrays(GL_LINE_LOOP, 0, 4);
    }
    if (frame_ % 2 == 0) {
        const float corner[12] = {-1, 1, 0, 0, -1 + 5 * sx_, 1, 0, 0, -1, 1 - 5 * sy_, 0, 0};
        stream(corner, 12);
        draw_arrays(GL_TRIANGLES, 0, 3);
    }
}

void GfxOpenGL2::invalidate() {
    for (FrameRecord& slot : history_) {
        slot.whole = true;
        for (RowRecord& row : slot.rows) {
            row.serial = 0;
            row.differs = true;
        }
    }
}

void GfxOpenGL2::shift_history(std::size_t rows) {
    std::rotate(history_.begin(), history_.end() - 1, history_.end());
    FrameRecord& now = history_[0];
    now.rows.assign(rows, RowRecord{});
    now.whole = false;
    now.cursor_drawn = false;
}

void GfxOpenGL2::draw_rows(Vt& vt, UiState& ui) {
    FrameRecord& now = history_[0];
    const FrameRecord& before = history_[1];
    const std::size_t top = vt.visible_top();
    bool blinking_text = false;
    for (std::size_t r = 0; r < visible_.size(); ++r) {
        VtLine* line = visible_[r];
        RowRecord& rec = now.rows[r];
        const RowRecord old = r < before.rows.size() ? before.rows[r] : RowRecord{};
        bool rendered = false;
        LinePass pass;
        if (line && should_create_line_render_pass(*line, line->proxy)) {
            pass.line = line;
            pass.proxy = &line->proxy;
            pass.absolute_line = top + r;
            render_line(vt, pass);
            if (pass.blinking) {
                LinePass off = pass;
                off.variant = LINE_VARIANT_BLINK_OFF;
                render_line(vt, off);
                partial_ = false;
            } else {
                textures_.release(line->proxy, LINE_VARIANT_BLINK_OFF);
            }
            line->damage = VtLineDamage{};
            line->damage.type = VT_LINE_DAMAGE_NONE;
            rendered = true;
        }
        LineTexture* main = line ? textures_.find(line->proxy, LINE_VARIANT_MAIN) : nullptr;
        if (LineTexture* off =
                line ? textures_.find(line->proxy, LINE_VARIANT_BLINK_OFF) : nullptr) {
            off->last_used_frame = frame_;
            blinking_text = true;
        }
        if (main) main->last_used_frame = frame_;
        rec.serial = main ? main->serial : 0;
        rec.cells = main ? main->cells : 0;
        const bool same_picture = rec.serial == old.serial && rec.cells == old.cells;
        rec.differs = rendered || !same_picture;
        if (!partial_) continue;
        if (rendered && same_picture) {
            if (pass.end - pass.first < 10) {
                add_row_damage(r, pass.first, pass.end);
            } else {
                partial_ = false;
            }
        }
        bool older = rec.differs && !(rendered && same_picture);
        for (std::size_t k = 1; !older && k < age_; ++k)
            older = r >= history_[k].rows.size() || history_[k].rows[r].differs;
        if (older) {
            std::uint16_t cells = 0;
            for (std::size_t k = 0; k <= age_ && k < HISTORY_SLOTS; ++k) {
                if (r < history_[k].rows.size()) cells = std::max(cells, history_[k].rows[r].cells);
            }
            cells = static_cast<std::uint16_t>(
                std::min<std::uint32_t>(cells + 1u, alignment_.columns_fitting));
            if (cells > 0) add_row_damage(r, 0, cells);
        }
    }
    has_blinking_text_ = blinking_text;

    // One quad per row from the row-quad buffer, inside the grid.
    glDisable(GL_BLEND);
    glEnable(GL_SCISSOR_TEST);
    const GLint rows_px = static_cast<GLint>(visible_.size() * cell_height_);
    glScissor(grid_x_, static_cast<GLint>(height_) - grid_y_ - rows_px,
              static_cast<GLsizei>(grid_.cols * cell_width_), rows_px);
    ensure_row_quads(visible_.size());
    bind_array_buffer(row_buffer_.get());
    use_program(PROGRAM_TEXTURE_COPY);
    gl.uniform2f(programs_[PROGRAM_TEXTURE_COPY]->uniform(1), 0, 0);
    set_viewport(grid_x_, -grid_y_, static_cast<GLsizei>(width_), static_cast<GLsizei>(height_));
    for (std::size_t r = 0; r < visible_.size(); ++r) {
        if (now.rows[r].serial == 0 || now.rows[r].cells == 0) continue;
        const LineTexture* shown = textures_.find(visible_[r]->proxy, LINE_VARIANT_MAIN);
        if (!ui.text_blink_visible) {
            if (const LineTexture* off = textures_.find(visible_[r]->proxy, LINE_VARIANT_BLINK_OFF))
                shown = off;
        }
        glBindTexture(GL_TEXTURE_2D, shown->texture.get());
        draw_arrays(GL_QUADS, static_cast<GLint>(4 * r), 4);
    }
    glDisable(GL_SCISSOR_TEST);
    set_viewport(0, 0, static_cast<GLsizei>(width_), static_cast<GLsizei>(height_));
}

// The box of Unicode entry at the cursor: "u" and the digits typed so far, black on white. It
// starts at the cursor, moved left to fit the grid, but never left of column 0.
void GfxOpenGL2::draw_unicode_entry(Vt& vt) {
    const std::size_t top = vt.visible_top();
    const std::size_t row_line = vt.cursor_row();
    if (row_line < top || row_line >= top + visible_.size()) return;
    const std::string& digits = vt.unicode_entry().digits();
    const auto length = static_cast<std::int64_t>(digits.size()) + 1;
    const std::int64_t columns = grid_.cols;
    const auto col = static_cast<std::int32_t>(
        std::max<std::int64_t>(0, std::min<std::int64_t>(vt.cursor_col(), columns - length)));
    const auto row = static_cast<std::int32_t>(row_line - top);
    const std::int32_t x = grid_x_ + col * cell_width_;
    const std::int32_t y = grid_y_ + row * cell_height_;
    history_[0].whole = true;
    partial_ = false;
    clear_box(x, static_cast<std::int32_t>(height_) - y - cell_height_,
              static_cast<GLsizei>(length * cell_width_), cell_height_, {255, 255, 255, 255});
    glDisable(GL_SCISSOR_TEST);
    glDisable(GL_DEPTH_TEST);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    const auto& pages = atlas_->pages();
    for (std::int64_t i = 0; i < length; ++i) {
        const char32_t code =
            i == 0 ? U'u' : static_cast<unsigned char>(digits[static_cast<std::size_t>(i - 1)]);
        const auto entry = atlas_->get_glyph(GlyphKey(code, GLYPH_STYLE_NORMAL));
        if (!entry || entry->width == 0 || entry->page >= pages.size()) continue;
        const AtlasPage& page = pages[entry->page];
        if (page.kind == ATLAS_PAGE_COLOR) continue;
        const ShaderProgramId id =
            page.kind == ATLAS_PAGE_SUBPIXEL ? PROGRAM_SUBPIXEL_GLYPH : PROGRAM_GRAYSCALE_GLYPH;
        use_program(id);
        gl.uniform3f(programs_[id]->uniform(1), 0, 0, 0);
        gl.uniform4f(programs_[id]->uniform(2), 1, 1, 1, 1);
        const float px = static_cast<float>(x + i * cell_width_) + entry->left +
                         static_cast<float>(alignment_.glyph_x_offset);
        const float py = static_cast<float>(y + alignment_.baseline) - entry->top;
        const float X0 = px * sx_ - 1, X1 = (px + static_cast<float>(entry->width)) * sx_ - 1;
        const float Y0 = 1 - py * sy_, Y1 = 1 - (py + static_cast<float>(entry->height)) * sy_;
        const float quad[16] = {X0, Y0, entry->u0, entry->v0, X1, Y0, entry->u1, entry->v0,
                                X1, Y1, entry->u1, entry->v1, X0, Y1, entry->u0, entry->v1};
        glBindTexture(GL_TEXTURE_2D, page.texture.get());
        stream(quad, 16);
        draw_arrays(GL_QUADS, 0, 4);
    }
}

bool GfxOpenGL2::cursor_shows(const UiState& ui) const {
    // A rate below one millisecond cannot blink: the cursor stays solid.
    const bool blink = settings_.blink.enabled && settings_.blink.rate_ms >= 1;
    if (!blink) return true;
    const bool blinks = ui.focused && ui.cursor->blinking;
    if (settings_.cursor_anim.blink_fade) return !blinks || ui.cursor_alpha > 0;
    return !blinks || ui.cursor_visible;
}

void GfxOpenGL2::draw_cursor(Vt& vt, UiState& ui) {
    ui.overlay_damage.type = VT_LINE_DAMAGE_NONE;
    if (!ui.cursor || ui.cursor->hidden || !cursor_shows(ui) || ui.cursor_alpha <= 0) return;
    const VtCursor& cursor = *ui.cursor;
    const std::size_t top = vt.visible_top();
    if (cursor.row < top || cursor.row >= top + visible_.size()) return;
    const std::size_t row = cursor.row - top;
    FrameRecord& now = history_[0];
    const auto x =
        static_cast<std::int32_t>(std::lround(ui.drawn_cursor_column * cell_width_)) + grid_x_;
    const auto y = static_cast<std::int32_t>(row * cell_height_) + grid_y_;
    now.cursor_drawn = true;
    now.cursor = {x, static_cast<std::int32_t>(height_) - cell_height_ - y, cell_width_,
                  cell_height_};

    VtLine* line = visible_[row];
    const VtCell* cell =
        line && cursor.col < line->cells.size() ? &line->cells[cursor.col] : nullptr;
    ColorRGBA color;
    if (settings_.cursor_bg_color) {
        color = *settings_.cursor_bg_color;
    } else {
        const ColorRGB fg = cell ? vt.resolve_fg(*cell) : vt.default_fg();
        color = {fg.r, fg.g, fg.b, 255};
    }
    const bool fading = settings_.cursor_anim.blink_fade && ui.focused && ui.cursor_alpha < 1;
    const double alpha = fading ? ui.cursor_alpha : 1.0;

    if (cursor.shape == CURSOR_SHAPE_BLOCK && ui.focused) {
        if (cell) {
            CursorCell over{cursor.col, color, {}, alpha};
            LinePass pass;
            pass.line = line;
            pass.proxy = &ui.overlay_proxy;
            pass.absolute_line = cursor.row;
            pass.variant = ui.text_blink_visible ? LINE_VARIANT_MAIN : LINE_VARIANT_BLINK_OFF;
            pass.cursor = &over;
            render_line(vt, pass);
        }
        glEnable(GL_SCISSOR_TEST);
        glScissor(x, now.cursor.y, cell_width_, cell_height_);
        clear_box(x, now.cursor.y, cell_width_, cell_height_,
                  {color.r, color.g, color.b, static_cast<std::uint8_t>(color.a * alpha)});
        const LineTexture* overlay = textures_.find(
            ui.overlay_proxy, ui.text_blink_visible ? LINE_VARIANT_MAIN : LINE_VARIANT_BLINK_OFF);
        if (cell && overlay) {
            ensure_row_quads(row + 1);
            bind_array_buffer(row_buffer_.get());
            use_program(PROGRAM_TEXTURE_COPY);
            gl.uniform2f(programs_[PROGRAM_TEXTURE_COPY]->uniform(1),
                         static_cast<float>(x - grid_x_ - cursor.col * cell_width_) * sx_, 0);
            set_viewport(grid_x_, -grid_y_, static_cast<GLsizei>(width_),
                         static_cast<GLsizei>(height_));
            glEnable(GL_BLEND);
            glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
            glBindTexture(GL_TEXTURE_2D, overlay->texture.get());
            draw_arrays(GL_QUADS, static_cast<GLint>(4 * row), 4);
            set_viewport(0, 0, static_cast<GLsizei>(width_), static_cast<GLsizei>(height_));
        }
        glDisable(GL_SCISSOR_TEST);
        if (LineTexture* t = textures_.find(ui.overlay_proxy, LINE_VARIANT_MAIN))
            t->last_used_frame = frame_;
        if (LineTexture* t = textures_.find(ui.overlay_proxy, LINE_VARIANT_BLINK_OFF))
            t->last_used_frame = frame_;
        return;
    }

    if (fading) {
        use_program(PROGRAM_LINE_FILL_ALPHA);
        gl.uniform4f(programs_[PROGRAM_LINE_FILL_ALPHA]->uniform(0), color.r / 255.0f,
                     color.g / 255.0f, color.b / 255.0f, static_cast<float>(alpha));
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    } else {
        use_program(PROGRAM_LINE_FILL);
        gl.uniform3f(programs_[PROGRAM_LINE_FILL]->uniform(0), color.r / 255.0f, color.g / 255.0f,
                     color.b / 255.0f);
        glDisable(GL_BLEND);
    }
    const float fx = static_cast<float>(x), fy = static_cast<float>(y);
    const float w = cell_width_, h = cell_height_;
    switch (cursor.shape) {
        case CURSOR_SHAPE_BEAM:
            fill_pixels(fx, fy, 1, h);
            break;
        case CURSOR_SHAPE_UNDERLINE:
            fill_pixels(fx, fy + h - 2, w, 1);
            break;
        default:  // an unfocused block is hollow
            fill_pixels(fx, fy, w, 1);
            fill_pixels(fx, fy + h - 1, w, 1);
            fill_pixels(fx, fy, 1, h);
            fill_pixels(fx + w - 1, fy, 1, h);
            break;
    }
}

void GfxOpenGL2::draw_overlays(const Vt& vt, const UiState& ui) {
    set_viewport(0, 0, static_cast<GLsizei>(width_), static_cast<GLsizei>(height_));
    const ShaderProgram& solid = *programs_[PROGRAM_SOLID];
    if (ui.scrollbar_shown) {
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE);
        use_program(PROGRAM_SOLID);
        const float alpha = ui.scrollbar_dragged ? 0.8f : 0.5f * ui.scrollbar_opacity;
        gl.uniform4f(solid.uniform(0), 1, 1, 1, alpha);
        const float x0 = 1 - ui.scrollbar_opacity * ui.scrollbar_width * sx_;
        const float y0 = 1 - ui.scrollbar_top, y1 = y0 - ui.scrollbar_length;
        const float quad[16] = {x0, y0, 0, 0, 1, y0, 0, 0, 1, y1, 0, 0, x0, y1, 0, 0};
        stream(quad, 16);
        draw_arrays(GL_QUADS, 0, 4);
    }
    if (ui.link_hovered) {
        use_program(PROGRAM_LINE_FILL);
        const ColorRGB fg = vt.default_fg();
        gl.uniform3f(programs_[PROGRAM_LINE_FILL]->uniform(0), fg.r / 255.0f, fg.g / 255.0f,
                     fg.b / 255.0f);
        glDisable(GL_BLEND);
        const std::size_t top = vt.visible_top();
        const std::size_t from = std::max(ui.hovered_link_first_line, top);
        const std::size_t to = std::min(ui.hovered_link_last_line + 1, top + visible_.size());
        for (std::size_t l = from; l < to; ++l) {
            const std::uint32_t c0 =
                l == ui.hovered_link_first_line ? ui.hovered_link_first_column : 0;
            const std::uint32_t c1 =
                l == ui.hovered_link_last_line ? ui.hovered_link_last_column + 1u : vt.cols();
            if (c1 <= c0) continue;
            fill_pixels(static_cast<float>(grid_x_ + c0 * cell_width_),
                        static_cast<float>(grid_y_ + (l - top + 1) * cell_height_ - 1),
                        static_cast<float>((c1 - c0) * cell_width_), 1);
        }
    }
    const float whole[16] = {-1, -1, 0, 0, 1, -1, 0, 0, 1, 1, 0, 0, -1, 1, 0, 0};
    if (ui.bell_intensity != 0 && settings_.visual_bell) {
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        use_program(PROGRAM_SOLID);
        const ColorRGBA c = *settings_.visual_bell;
        gl.uniform4f(solid.uniform(0), c.r / 255.0f, c.g / 255.0f, c.b / 255.0f,
                     static_cast<float>(c.a / 255.0 * ui.bell_intensity));
        stream(whole, 16);
        draw_arrays(GL_QUADS, 0, 4);
    }
    if (!ui.focused && settings_.unfocused_tint.a != 0) {
        glEnable(GL_BLEND);
        glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
        use_program(PROGRAM_SOLID);
        const ColorRGBA c = settings_.unfocused_tint;
        gl.uniform4f(solid.uniform(0), c.r / 255.0f, c.g / 255.0f, c.b / 255.0f, c.a / 255.0f);
        stream(whole, 16);
        draw_arrays(GL_QUADS, 0, 4);
    }
}

void GfxOpenGL2::add_row_damage(std::size_t row, std::uint16_t first, std::uint16_t end) {
    if (end <= first) return;
    const auto y = static_cast<std::int32_t>(height_) -
                   (grid_y_ + cell_height_ + static_cast<std::int32_t>(cell_height_ * row));
    add_damage({first * cell_width_ + grid_x_, y, (end - first) * cell_width_, cell_height_});
}

// A rectangle that overlaps or touches one already listed grows it; a sixth one gives up.
void GfxOpenGL2::add_damage(DamageRect rect) {
    if (!partial_) return;
    for (std::size_t i = 0; i < rect_count_; ++i) {
        if (touches(rects_[i], rect)) {
            rects_[i] = bounding_box(rects_[i], rect);
            return;
        }
    }
    if (rect_count_ == MAX_DAMAGE_RECTS) {
        partial_ = false;
        return;
    }
    rects_[rect_count_++] = rect;
}

}  // namespace zelto
