// Rendering a line into its texture: backgrounds, glyphs and decoration lines, over the damaged
// columns only.
#include <algorithm>
#include <cassert>
#include <cmath>

#include "gfx_gl2/gfx_opengl2.hpp"
#include "terminal/vt.hpp"
#include "util/diagnostics.hpp"

namespace zelto {

namespace {

bool is_blank(const VtCell& cell) {
    return (cell.code == U' ' || cell.code == 0) && cell.combine[0] == 0;
}

bool is_wide(char32_t c) {
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
           (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
           (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
           (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1FAFF) ||
           (c >= 0x20000 && c <= 0x3FFFD);
}

// Symbols of icon fonts are drawn wider than their cell.
bool draws_wide(char32_t c) {
    return (c >= 0xE000 && c <= 0xF8FF) || (c >= 0x2700 && c <= 0x27BF) ||
           (c >= 0xFFF0 && c <= 0xFFFF);
}

// Whether a cell's glyph may reach into the cell after it.
bool spills(const VtCell& cell, bool icon_symbols_wide) {
    if (cell.combine[0] != 0 || is_wide(cell.code) || cell.code == VT_WIDE_CHAR_TAIL) return true;
    return icon_symbols_wide && draws_wide(cell.code);
}

ColorRGB mix_dim(ColorRGB fg, ColorRGBA bg) {
    auto m = [](int f, int b) {
        return static_cast<std::uint8_t>(std::clamp(0.6 * f + 0.4 * b, 0.0, 255.0));
    };
    return {m(fg.r, bg.r), m(fg.g, bg.g), m(fg.b, bg.b)};
}

bool same(ColorRGBA a, ColorRGBA b) {
    return a.r == b.r && a.g == b.g && a.b == b.b && a.a == b.a;
}
bool same(ColorRGB a, ColorRGB b) {
    return a.r == b.r && a.g == b.g && a.b == b.b;
}

// Not a cell flag: a link drawn with dashes, under `always-underline-links`.
constexpr std::uint8_t LINK_DASHES = 1u << 7;
constexpr std::uint8_t DECORATION_MASK = VT_CELL_UNDERLINED | VT_CELL_STRIKETHROUGH |
                                         VT_CELL_DOUBLE_UNDERLINE | VT_CELL_CURLY_UNDERLINE |
                                         VT_CELL_OVERLINE;

}  // namespace

bool GfxOpenGL2::should_create_line_render_pass(const VtLine& line, const VtLineProxy& proxy) {
    if (line.damage.type == VT_LINE_DAMAGE_PROXIES_MOVED_TO_CLONE) {
        // A live line whose textures went to its synchronized-update copy: a caller bug, which
        // must not end the user's session in a release build.
        [[maybe_unused]] const VtLineDamage* dmg = &line.damage;
        assert(dmg->type != VT_LINE_DAMAGE_PROXIES_MOVED_TO_CLONE);
        warn("Skipped drawing a line whose textures moved to its snapshot copy\n");
        return false;
    }
    // A line without cells only needs a pass to give its textures back.
    if (line.cells.empty())
        return textures_.find(proxy, LINE_VARIANT_MAIN) ||
               textures_.find(proxy, LINE_VARIANT_BLINK_OFF);
    return line.damage.type != VT_LINE_DAMAGE_NONE || !textures_.find(proxy, LINE_VARIANT_MAIN);
}

bool GfxOpenGL2::selected(const Vt& vt, const LinePass& pass, std::uint16_t column) const {
    return vt.selection().active() && vt.selection().contains(column, pass.absolute_line);
}

GfxOpenGL2::CellColors GfxOpenGL2::colors_of(const Vt& vt, const VtCell& cell, bool is_selected,
                                             const CursorCell* cursor) const {
    CellColors c{vt.effective_bg(cell), vt.effective_fg(cell)};
    if (cell.has(VT_CELL_DIM)) c.fg = mix_dim(c.fg, c.bg);
    if (is_selected) {
        c.bg = settings_.highlight_bg_color;
        if (settings_.highlight_fg_color) c.fg = *settings_.highlight_fg_color;
    }
    if (cursor) {
        const ColorRGBA under = c.bg;
        c.bg = cursor->bg;
        c.fg = settings_.cursor_fg_color.value_or(ColorRGB{under.r, under.g, under.b});
    }
    return c;
}

// The columns a pass renders. Range damage widens to whole words, so that glyphs reaching into
// a neighbour cell are drawn again with it; a line that became shorter clears its old tail.
void GfxOpenGL2::pick_columns(const VtLine& line, LineTexture& texture, bool fresh, LinePass& pass,
                              std::uint16_t& clear_end, bool& scissored) {
    const auto n = static_cast<std::uint16_t>(
        std::min<std::size_t>(line.cells.size(), alignment_.columns_fitting));
    if (pass.cursor) {
        const int c = pass.cursor->column;
        pass.first = static_cast<std::uint16_t>(std::clamp(c - 3, 0, int{n}));
        pass.end = static_cast<std::uint16_t>(std::clamp(c + 4, int{pass.first}, int{n}));
        clear_end = static_cast<std::uint16_t>(std::max(c + 1, int{pass.end}));
        scissored = true;
        return;
    }
    if (fresh || line.damage.type != VT_LINE_DAMAGE_RANGE) {
        pass.first = 0;
        pass.end = n;
        clear_end = static_cast<std::uint16_t>(alignment_.columns_fitting);
        scissored = false;
        return;
    }
    const VtCell* cells = line.cells.data();
    std::uint16_t first = std::min<std::uint16_t>(line.damage.front, n);
    if (first > 0) {
        std::uint16_t i = static_cast<std::uint16_t>(first - 1);
        while (i > 0 && !(is_blank(cells[i]) && !spills(cells[i - 1], false))) --i;
        // Glyphs spill into the cell before them too (the LCD filter's fringe), so a word at
        // the start of the line is rendered from cell 0.
        first = i;
    }
    std::uint16_t last = std::min<std::uint16_t>(line.damage.end, n);
    std::uint16_t end = n;
    for (std::uint16_t j = static_cast<std::uint16_t>(last + 1); j < n; ++j) {
        if (is_blank(cells[j]) && !spills(cells[j - 1], true)) {
            end = static_cast<std::uint16_t>(j + 1);
            break;
        }
    }
    pass.first = first;
    pass.end = std::max(first, end);
    // A line that became shorter clears what its texture still shows beyond its end.
    const auto old_cells = static_cast<std::uint16_t>(
        std::min<std::uint32_t>(texture.cells, alignment_.columns_fitting));
    clear_end = old_cells > n ? std::max(pass.end, old_cells) : pass.end;
    // The last glyph may spill past the line's end, over the cell after it.
    if (pass.end == n)
        clear_end =
            std::max<std::uint16_t>(clear_end, static_cast<std::uint16_t>(std::min<std::uint32_t>(
                                                   n + 1u, alignment_.columns_fitting)));
    scissored = true;
}

void GfxOpenGL2::render_line(Vt& vt, LinePass& pass) {
    VtLine& line = *pass.line;
    const std::uint32_t tex_w = alignment_.columns_fitting * cell_width_;
    const std::uint32_t tex_h = cell_height_;
    LineTexture* texture = textures_.find(*pass.proxy, pass.variant);
    const bool has_cells = !line.cells.empty() && tex_w > 0 && tex_h > 0;
    if (!has_cells) {
        textures_.release(*pass.proxy, pass.variant);
        pass.first = pass.end = 0;
        return;
    }
    const bool fresh = texture == nullptr;
    if (fresh) texture = &textures_.acquire(*pass.proxy, pass.variant, tex_w, tex_h);
    std::uint16_t clear_end = 0;
    bool scissored = false;
    pick_columns(line, *texture, fresh, pass, clear_end, scissored);
    if (!pass.cursor) ++stats_.lines_rendered;

    gl.bind_framebuffer(GL_FRAMEBUFFER, framebuffer_.get());
    gl.framebuffer_texture_2d(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D,
                              texture->texture.get(), 0);
    gl.framebuffer_renderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER,
                                texture->depth.get());
    set_viewport(0, 0, static_cast<GLsizei>(tex_w), static_cast<GLsizei>(tex_h));

    ColorRGBA clear = vt.default_bg();
    if (pass.cursor && settings_.cursor_anim.blink_fade) {
        const double f = pass.cursor->fade;
        auto m = [f](int a, int b) {
            return static_cast<std::uint8_t>(std::clamp(a + (b - a) * f, 0.0, 255.0));
        };
        const ColorRGBA to = pass.cursor->bg;
        clear = {m(clear.r, to.r), m(clear.g, to.g), m(clear.b, to.b), m(clear.a, to.a)};
    }
    glDepthMask(GL_TRUE);
    if (scissored) {
        glEnable(GL_SCISSOR_TEST);
        glScissor(pass.first * cell_width_, 0, (clear_end - pass.first) * cell_width_,
                  static_cast<GLsizei>(tex_h));
    } else {
        glDisable(GL_SCISSOR_TEST);
    }
    glClearColor(clear.r / 255.0f, clear.g / 255.0f, clear.b / 255.0f, clear.a / 255.0f);
    glClearDepth(1.0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    ++stats_.draw_calls;

    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glDepthRange(0.0, 1.0);

    const VtCell* cells = line.cells.data();
    const std::size_t n = std::min<std::size_t>(line.cells.size(), alignment_.columns_fitting);
    pass.blinking = false;
    for (std::size_t i = 0; i < n && !pass.blinking; ++i)
        pass.blinking = cells[i].has(VT_CELL_BLINKING) && cells[i].code > U' ';
    render_backgrounds(vt, pass, cells);
    render_glyphs(vt, pass, cells, n, pass.first, scissored ? clear_end : tex_w / cell_width_);
    render_decorations(vt, pass, cells);
    if (settings_.debug_gfx) flash_rendered_line();

    glDisable(GL_DEPTH_TEST);
    glDepthMask(GL_FALSE);
    glDisable(GL_SCISSOR_TEST);
    gl.framebuffer_texture_2d(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, 0, 0);
    gl.framebuffer_renderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, 0);
    gl.bind_framebuffer(GL_FRAMEBUFFER, 0);
    set_viewport(0, 0, static_cast<GLsizei>(width_), static_cast<GLsizei>(height_));

    texture->cells = static_cast<std::uint16_t>(n);
    texture->last_used_frame = frame_;
    if (scissored) {
        pass.end = clear_end;
    } else {
        pass.first = 0;
        pass.end = static_cast<std::uint16_t>(alignment_.columns_fitting);
    }
}

// Under `debug-gfx`, re-rendered lines flash in colours that change with every render.
void GfxOpenGL2::flash_rendered_line() {
    glDisable(GL_SCISSOR_TEST);
    glDisable(GL_DEPTH_TEST);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    use_program(PROGRAM_SOLID);
    const float a = debug_angle_;
    gl.uniform4f(programs_[PROGRAM_SOLID]->uniform(0), std::fabs(std::sin(a)),
                 std::fabs(std::cos(a)), std::sin(a), 0.1f);
    const float whole[16] = {-1, -1, 0, 0, 1, -1, 0, 0, 1, 1, 0, 0, -1, 1, 0, 0};
    stream(whole, 16);
    draw_arrays(GL_QUADS, 0, 4);
    debug_angle_ += 0.5f;
    if (debug_angle_ > static_cast<float>(M_PI)) debug_angle_ -= static_cast<float>(M_PI);
}

// Each run of equal background is one scissored clear; the default background is already there.
void GfxOpenGL2::render_backgrounds(const Vt& vt, const LinePass& pass, const VtCell* cells) {
    const ColorRGBA base = vt.default_bg();
    std::uint16_t run = pass.first;
    ColorRGBA run_bg{};
    auto flush = [&](std::uint16_t end) {
        if (end > run && !same(run_bg, base)) {
            glEnable(GL_SCISSOR_TEST);
            glScissor(run * cell_width_, 0, (end - run) * cell_width_, cell_height_);
            glClearColor(run_bg.r / 255.0f, run_bg.g / 255.0f, run_bg.b / 255.0f,
                         run_bg.a / 255.0f);
            glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
            ++stats_.draw_calls;
        }
        run = end;
    };
    for (std::uint16_t c = pass.first; c < pass.end; ++c) {
        const bool on_cursor = pass.cursor && pass.cursor->column == c;
        const ColorRGBA bg =
            colors_of(vt, cells[c], selected(vt, pass, c), on_cursor ? pass.cursor : nullptr).bg;
        if (c == pass.first) {
            run_bg = bg;
        } else if (!same(bg, run_bg)) {
            flush(c);
            run_bg = bg;
        }
    }
    flush(pass.end);
}

// Glyphs of the cell before and after the range are drawn too, clipped to it, so that what they
// spill into the range survives the clear.
void GfxOpenGL2::render_glyphs(const Vt& vt, const LinePass& pass, const VtCell* cells,
                               std::size_t n, std::uint16_t clip_first, std::uint16_t clip_end) {
    const std::uint16_t first = pass.first > 0 ? static_cast<std::uint16_t>(pass.first - 1) : 0;
    const auto end = static_cast<std::uint16_t>(std::min<std::size_t>(n, pass.end + 1u));
    const bool skip_blinking = pass.variant == LINE_VARIANT_BLINK_OFF;
    std::uint16_t run = first;
    CellColors run_colors{};
    glyph_quads_.clear();
    for (std::uint16_t c = first; c <= end; ++c) {
        CellColors colors{};
        if (c < end) {
            const bool on_cursor = pass.cursor && pass.cursor->column == c;
            colors =
                colors_of(vt, cells[c], selected(vt, pass, c), on_cursor ? pass.cursor : nullptr);
        }
        if (c == end ||
            (c > run && (!same(colors.bg, run_colors.bg) || !same(colors.fg, run_colors.fg)))) {
            if (!glyph_quads_.empty()) draw_glyph_run(run, c, run_colors, clip_first, clip_end);
            glyph_quads_.clear();
            run = c;
        }
        if (c == end) break;
        run_colors = colors;
        // When the atlas starts again, the quads of this run name pages that are gone. A run
        // whose glyphs alone go over the atlas budget gives up after a few tries.
        for (int attempt = 0; !add_glyph_quad(cells[c], c, skip_blinking) && attempt < 3;
             ++attempt) {
            glyph_quads_.clear();
            bool placed = true;
            for (std::uint16_t k = run; k < c && placed; ++k)
                placed = add_glyph_quad(cells[k], k, skip_blinking);
            if (!placed) glyph_quads_.clear();
        }
    }
}

// False when the atlas was flushed while it placed the glyph.
bool GfxOpenGL2::add_glyph_quad(const VtCell& cell, std::uint16_t column, bool skip_blinking) {
    if (cell.code < 33 || cell.has(VT_CELL_HIDDEN)) return true;
    if (skip_blinking && cell.has(VT_CELL_BLINKING)) return true;
    const std::uint32_t flushes = atlas_->flush_count();
    const auto entry = atlas_->get_glyph(
        GlyphKey(cell.code, cell.font_style & 3u, cell.combine[0], cell.combine[1]));
    if (atlas_->flush_count() != flushes) return false;
    if (!entry || entry->width == 0 || entry->height == 0) return true;
    const float sx = 2.0f / static_cast<float>(alignment_.columns_fitting * cell_width_);
    const float sy = 2.0f / static_cast<float>(cell_height_);
    const float x0 = static_cast<float>(column * cell_width_) + entry->left +
                     static_cast<float>(alignment_.glyph_x_offset);
    const float y0 = static_cast<float>(alignment_.baseline) - entry->top;
    const float X0 = x0 * sx - 1, X1 = (x0 + static_cast<float>(entry->width)) * sx - 1;
    const float Y0 = y0 * sy - 1, Y1 = (y0 + static_cast<float>(entry->height)) * sy - 1;
    glyph_quads_.push_back({entry->page,
                            {X0, Y0, entry->u0, entry->v0, X1, Y0, entry->u1, entry->v0, X1, Y1,
                             entry->u1, entry->v1, X0, Y1, entry->u0, entry->v1}});
    return true;
}

// One draw per atlas page, clipped to the run plus the cell after it and to the rendered range.
void GfxOpenGL2::draw_glyph_run(std::uint16_t first, std::uint16_t end, const CellColors& colors,
                                std::uint16_t clip_first, std::uint16_t clip_end) {
    const std::uint16_t x0 = std::max(first, clip_first);
    const std::uint16_t x1 = std::min<std::uint16_t>(static_cast<std::uint16_t>(end + 1), clip_end);
    if (x1 <= x0) return;
    glEnable(GL_SCISSOR_TEST);
    glScissor(x0 * cell_width_, 0, (x1 - x0) * cell_width_, cell_height_);
    const auto& pages = atlas_->pages();
    std::size_t done = 0;
    while (done < glyph_quads_.size()) {
        const std::uint32_t page = glyph_quads_[done].page;
        vertices_.clear();
        std::size_t i = done;
        for (; i < glyph_quads_.size(); ++i) {
            const GlyphQuad& q = glyph_quads_[i];
            if (q.page == page) vertices_.insert(vertices_.end(), q.v, q.v + 16);
        }
        // Quads of other pages stay for the next round.
        std::stable_partition(glyph_quads_.begin() + static_cast<std::ptrdiff_t>(done),
                              glyph_quads_.end(),
                              [page](const GlyphQuad& q) { return q.page == page; });
        const std::size_t count = vertices_.size() / 16;
        done += count;
        if (page >= pages.size()) continue;
        const AtlasPage& p = pages[page];
        glBindTexture(GL_TEXTURE_2D, p.texture.get());
        if (p.kind == ATLAS_PAGE_COLOR) {
            use_program(PROGRAM_TEXTURE_COPY);
            gl.uniform2f(programs_[PROGRAM_TEXTURE_COPY]->uniform(1), 0, 0);
            glDisable(GL_DEPTH_TEST);
            gl.blend_func_separate(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_ONE,
                                   GL_ONE_MINUS_SRC_ALPHA);
        } else {
            const ShaderProgramId id =
                p.kind == ATLAS_PAGE_SUBPIXEL ? PROGRAM_SUBPIXEL_GLYPH : PROGRAM_GRAYSCALE_GLYPH;
            use_program(id);
            const ShaderProgram& prog = *programs_[id];
            gl.uniform3f(prog.uniform(1), colors.fg.r / 255.0f, colors.fg.g / 255.0f,
                         colors.fg.b / 255.0f);
            gl.uniform4f(prog.uniform(2), colors.bg.r / 255.0f, colors.bg.g / 255.0f,
                         colors.bg.b / 255.0f, colors.bg.a / 255.0f);
        }
        stream(vertices_.data(), vertices_.size());
        draw_arrays(GL_QUADS, 0, static_cast<GLsizei>(count * 4));
        if (p.kind == ATLAS_PAGE_COLOR) {
            glEnable(GL_DEPTH_TEST);
            glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        }
    }
}

// Underline, double underline, strikethrough, overline, curly underline and link dashes, one
// segment per run of equal line colour and kinds.
void GfxOpenGL2::render_decorations(const Vt& vt, const LinePass& pass, const VtCell* cells) {
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_SCISSOR_TEST);
    const float sx = 2.0f / static_cast<float>(alignment_.columns_fitting * cell_width_);
    const float sy = 2.0f / static_cast<float>(cell_height_);
    const int h = cell_height_;
    auto line_color = [&](const VtCell& cell) -> ColorRGB {
        if (cell.has(VT_CELL_LINE_COLOR_SET)) {
            if (!cell.has(VT_CELL_LINE_COLOR_IS_PALETTE_INDEX))
                return {cell.line_color[0], cell.line_color[1], cell.line_color[2]};
            VtCell probe;
            probe.set_fg_index(cell.line_color_index());
            return vt.resolve_fg(probe);
        }
        return vt.effective_fg(cell);
    };
    std::uint16_t run = pass.first;
    std::uint8_t run_kinds = 0;
    ColorRGB run_color{};
    auto flush = [&](std::uint16_t end) {
        if (run_kinds != 0 && end > run) {
            vertices_.clear();
            const float X0 = static_cast<float>(run * cell_width_) * sx - 1;
            const float X1 = static_cast<float>(end * cell_width_) * sx - 1;
            auto bar = [&](int px_row) {
                px_row = std::clamp(px_row, 0, h - 1);
                const float Y0 = static_cast<float>(px_row) * sy - 1, Y1 = Y0 + sy;
                const float quad[16] = {X0, Y0, 0, 0, X1, Y0, 0, 0, X1, Y1, 0, 0, X0, Y1, 0, 0};
                vertices_.insert(vertices_.end(), quad, quad + 16);
            };
            if (run_kinds & VT_CELL_UNDERLINED) bar(h - 2);
            if (run_kinds & VT_CELL_DOUBLE_UNDERLINE) {
                bar(h - 1);
                bar(h - 3);
            }
            if (run_kinds & VT_CELL_STRIKETHROUGH) bar(static_cast<int>(h * 0.6f));
            if (run_kinds & VT_CELL_OVERLINE) bar(0);
            if (run_kinds & LINK_DASHES) {
                const float Y0 = static_cast<float>(h - 2) * sy - 1, Y1 = Y0 + sy;
                for (std::uint16_t c = run; c < end; ++c) {
                    const float x0 = static_cast<float>(c * cell_width_) * sx - 1;
                    const float x1 = x0 + static_cast<float>(cell_width_ / 2) * sx;
                    const float quad[16] = {x0, Y0, 0, 0, x1, Y0, 0, 0, x1, Y1, 0, 0, x0, Y1, 0, 0};
                    vertices_.insert(vertices_.end(), quad, quad + 16);
                }
            }
            if (!vertices_.empty()) {
                use_program(PROGRAM_LINE_FILL);
                gl.uniform3f(programs_[PROGRAM_LINE_FILL]->uniform(0), run_color.r / 255.0f,
                             run_color.g / 255.0f, run_color.b / 255.0f);
                stream(vertices_.data(), vertices_.size());
                draw_arrays(GL_QUADS, 0, static_cast<GLsizei>(vertices_.size() / 4));
            }
            if (run_kinds & VT_CELL_CURLY_UNDERLINE) draw_curly(run, end, run_color);
        }
        run = end;
    };
    for (std::uint16_t c = pass.first; c < pass.end; ++c) {
        std::uint8_t kinds = cells[c].decorations & DECORATION_MASK;
        if (cells[c].link != 0 && settings_.always_underline_links && !(kinds & VT_CELL_UNDERLINED))
            kinds |= LINK_DASHES;
        const ColorRGB color = kinds ? line_color(cells[c]) : ColorRGB{};
        if (kinds != run_kinds || (kinds && !same(color, run_color))) {
            flush(c);
            run_kinds = kinds;
            run_color = color;
        }
    }
    flush(pass.end);
}

// One period per cell, phased by the absolute column so that a partly re-rendered run joins up.
void GfxOpenGL2::draw_curly(std::uint16_t first, std::uint16_t end, ColorRGB color) {
    const float sx = 2.0f / static_cast<float>(alignment_.columns_fitting * cell_width_);
    const float sy = 2.0f / static_cast<float>(cell_height_);
    const float X0 = static_cast<float>(first * cell_width_) * sx - 1;
    const float X1 = static_cast<float>(end * cell_width_) * sx - 1;
    const float Y0 = 1 - static_cast<float>(curly_height_) * sy, Y1 = 1;
    const float s0 = first, s1 = end;
    const float quad[16] = {X0, Y0, s0, 0, X1, Y0, s1, 0, X1, Y1, s1, 1, X0, Y1, s0, 1};
    use_program(PROGRAM_TINTED_TEXTURE);
    const ShaderProgram& prog = *programs_[PROGRAM_TINTED_TEXTURE];
    gl.uniform3f(prog.uniform(1), color.r / 255.0f, color.g / 255.0f, color.b / 255.0f);
    gl.uniform2f(prog.uniform(2), 0, 0);
    glBindTexture(GL_TEXTURE_2D, curly_texture_.get());
    gl.blend_func_separate(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA, GL_ONE, GL_ONE);
    stream(quad, 16);
    draw_arrays(GL_QUADS, 0, 4);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
}

}  // namespace zelto
