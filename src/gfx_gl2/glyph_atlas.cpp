#include "gfx_gl2/glyph_atlas.hpp"

#include <algorithm>
#include <cmath>

#include "fonts/box_glyphs.hpp"
#include "util/diagnostics.hpp"

namespace zelto {

namespace {

constexpr std::uint32_t BUILTIN_PAGE_COLUMNS = 16;

struct Rgba {
    int r, g, b, a;
};

GLenum upload_format(LcdMode format) {
    switch (format) {
        case LCD_MODE_H_RGB:
        case LCD_MODE_V_RGB:
            return GL_RGB;
        case LCD_MODE_H_BGR:
        case LCD_MODE_V_BGR:
            return GL_BGR;
        case LCD_MODE_COLOR:
            return GL_BGRA;
        default:
            return GL_RED;
    }
}

std::uint32_t page_bytes_per_pixel(AtlasPageKind kind) {
    return kind == ATLAS_PAGE_COLOR ? 4 : kind == ATLAS_PAGE_SUBPIXEL ? 3 : 1;
}

std::uint32_t round_up_4(std::uint32_t n) {
    return (n + 3) & ~3u;
}

bool is_bgr(LcdMode format) {
    return format == LCD_MODE_H_BGR || format == LCD_MODE_V_BGR;
}

// A pixel of any glyph format as straight-alpha RGBA; coverage formats are white ink.
Rgba pixel_of(const GlyphBitmap& g, int x, int y) {
    const std::uint8_t* p = g.data + static_cast<std::size_t>(y) * g.pitch +
                            static_cast<std::size_t>(x) * bytes_per_pixel(g.format);
    switch (g.format) {
        case LCD_MODE_NONE:
            return {p[0], p[0], p[0], p[0]};
        case LCD_MODE_COLOR:
            return {p[2], p[1], p[0], p[3]};
        default: {
            const Rgba c = is_bgr(g.format) ? Rgba{p[2], p[1], p[0], 0} : Rgba{p[0], p[1], p[2], 0};
            return {c.r, c.g, c.b, std::max({c.r, c.g, c.b})};
        }
    }
}

// Combines one pixel of a glyph into the composed image: coverage keeps the brighter ink, colour
// images take the glyph over what is there.
void combine(std::uint8_t* out, LcdMode format, Rgba in, bool color_source) {
    switch (format) {
        case LCD_MODE_NONE:
            out[0] = static_cast<std::uint8_t>(std::max<int>(out[0], in.a));
            return;
        case LCD_MODE_COLOR: {
            const int a = in.a, inv = 255 - a;
            const int dst_a = out[3];
            const int out_a = a + dst_a * inv / 255;
            if (out_a == 0) return;
            auto over = [&](int src, int dst) {
                return static_cast<std::uint8_t>((src * a + dst * dst_a * inv / 255) / out_a);
            };
            out[0] = over(in.b, out[0]);
            out[1] = over(in.g, out[1]);
            out[2] = over(in.r, out[2]);
            out[3] = static_cast<std::uint8_t>(out_a);
            return;
        }
        default: {
            // Colour ink counts as coverage of its brightness times its alpha.
            const Rgba c = color_source
                               ? Rgba{in.r * in.a / 255, in.g * in.a / 255, in.b * in.a / 255, in.a}
                               : in;
            const bool bgr = is_bgr(format);
            std::uint8_t& red = out[bgr ? 2 : 0];
            std::uint8_t& blue = out[bgr ? 0 : 2];
            red = static_cast<std::uint8_t>(std::max<int>(red, c.r));
            out[1] = static_cast<std::uint8_t>(std::max<int>(out[1], c.g));
            blue = static_cast<std::uint8_t>(std::max<int>(blue, c.b));
            return;
        }
    }
}

// Area-averaged downscale of a BGRA image, in premultiplied alpha so edges keep their colour.
std::vector<std::uint8_t> scale_bgra(const GlyphBitmap& src, std::uint32_t w, std::uint32_t h) {
    std::vector<std::uint8_t> out(static_cast<std::size_t>(w) * h * 4, 0);
    const std::uint32_t sw = src.width, sh = src.height;
    for (std::uint32_t y = 0; y < h; ++y) {
        const std::uint32_t y0 = y * sh / h, y1 = std::max(y0 + 1, (y + 1) * sh / h);
        for (std::uint32_t x = 0; x < w; ++x) {
            const std::uint32_t x0 = x * sw / w, x1 = std::max(x0 + 1, (x + 1) * sw / w);
            std::uint64_t sum[4] = {0, 0, 0, 0};
            for (std::uint32_t sy = y0; sy < y1 && sy < sh; ++sy) {
                const std::uint8_t* row = src.data + static_cast<std::size_t>(sy) * src.pitch;
                for (std::uint32_t sx = x0; sx < x1 && sx < sw; ++sx) {
                    const std::uint8_t* p = row + sx * 4;
                    for (int c = 0; c < 3; ++c) sum[c] += std::uint64_t{p[c]} * p[3];
                    sum[3] += p[3];
                }
            }
            const std::uint64_t count = std::uint64_t{x1 - x0} * (y1 - y0);
            std::uint8_t* o = &out[(static_cast<std::size_t>(y) * w + x) * 4];
            if (sum[3] == 0) continue;
            for (int c = 0; c < 3; ++c) o[c] = static_cast<std::uint8_t>(sum[c] / sum[3]);
            o[3] = static_cast<std::uint8_t>(sum[3] / count);
        }
    }
    return out;
}

}  // namespace

AtlasPageKind page_kind_for(LcdMode format) {
    if (format == LCD_MODE_COLOR) return ATLAS_PAGE_COLOR;
    if (format == LCD_MODE_NONE) return ATLAS_PAGE_GRAYSCALE;
    return ATLAS_PAGE_SUBPIXEL;
}

GlyphAtlas::GlyphAtlas(FontSet& fonts, const Settings& settings, AtlasCell cell,
                       GLint max_texture_size)
    : fonts_(fonts),
      settings_(settings),
      cell_(cell),
      page_size_(std::min<std::uint32_t>(
          PAGE_SIZE, static_cast<std::uint32_t>(std::max(max_texture_size, 64)))),
      max_texture_size_(max_texture_size) {
    build_builtin_glyphs();
}

const AtlasPage* GlyphAtlas::builtin_page() const {
    return builtin_page_ < 0 ? nullptr : &pages_[static_cast<std::size_t>(builtin_page_)];
}

std::optional<GlyphEntry> GlyphAtlas::lookup(const GlyphKey& key) const {
    const auto it = map_.find(key);
    if (it == map_.end()) return std::nullopt;
    return it->second;
}

// A style no primary font has a file for is served by the entry of the style that stands in.
std::optional<GlyphEntry> GlyphAtlas::find_with_style_fallback(const GlyphKey& key) const {
    GlyphKey other = key;
    switch (key.style) {
        case GLYPH_STYLE_BOLD:
            if (settings_.has_bold_font) return std::nullopt;
            other.style = GLYPH_STYLE_NORMAL;
            break;
        case GLYPH_STYLE_ITALIC:
            if (settings_.has_italic_font) return std::nullopt;
            other.style = GLYPH_STYLE_NORMAL;
            break;
        case GLYPH_STYLE_BOLD_ITALIC:
            if (settings_.has_bold_italic_font) return std::nullopt;
            other.style = settings_.has_bold_font     ? GLYPH_STYLE_BOLD
                          : settings_.has_italic_font ? GLYPH_STYLE_ITALIC
                                                      : GLYPH_STYLE_NORMAL;
            break;
        default:
            return std::nullopt;
    }
    return lookup(other);
}

std::optional<GlyphEntry> GlyphAtlas::get_glyph(const GlyphKey& key) {
    if (auto hit = lookup(key)) return hit;
    if (auto hit = find_with_style_fallback(key)) return hit;
    GlyphKey unstyled = key;
    unstyled.style = GLYPH_STYLE_UNSTYLED;
    if (auto hit = lookup(unstyled)) return hit;
    if (misses_.contains(key)) return std::nullopt;

    if (map_.size() >= MAX_ENTRIES) flush();
    if (misses_.size() >= MAX_MISSES) misses_.clear();
    return key.combining[0] ? compose(key) : rasterise(key);
}

void GlyphAtlas::insert(const GlyphKey& key, const GlyphEntry& entry) {
    map_[key] = entry;
}

void GlyphAtlas::warn_missing(const GlyphKey& key) {
    if (misses_.insert(key).second)
        warn("Missing glyph u+%X\n", static_cast<unsigned>(key.code_point));
}

void GlyphAtlas::store(const GlyphKey& key, FontStyle used, const GlyphEntry& entry) {
    GlyphKey stored = key;
    if (used == FONT_STYLE_NONE) stored.style = GLYPH_STYLE_UNSTYLED;
    map_[stored] = entry;
}

std::optional<GlyphEntry> GlyphAtlas::rasterise(const GlyphKey& key) {
    const GlyphBitmap* glyph = fonts_.glyph_for(key.code_point, font_style_for_cell(key.style));
    if (!glyph) {
        warn_missing(key);
        return std::nullopt;
    }
    const FontStyle used = glyph->style;
    auto entry = place(*glyph);
    if (!entry) {
        misses_.insert(key);
        return std::nullopt;
    }
    store(key, used, *entry);
    return entry;
}

std::optional<GlyphEntry> GlyphAtlas::compose(const GlyphKey& key) {
    const FontStyle style = font_style_for_cell(key.style);
    const GlyphBitmap* base_glyph = fonts_.glyph_for(key.code_point, style);
    if (!base_glyph) {
        misses_.insert(key);
        return std::nullopt;
    }
    auto copy = [](const GlyphBitmap& g) {
        OwnedBitmap owned{g, {}};
        owned.pixels.assign(g.data, g.data + static_cast<std::size_t>(g.pitch) * g.height);
        owned.bitmap.data = owned.pixels.data();
        return owned;
    };
    const OwnedBitmap base = copy(*base_glyph);
    const GlyphBitmap& b = base.bitmap;
    const LcdMode format = b.format;

    const int w = std::max<int>(b.width, cell_.width), h = std::max<int>(b.height, cell_.height);
    // The row of the baseline in the image: the cell's own for text, so that the composed glyph
    // sits where its parts would; a colour glyph keeps its top at the image's top.
    const int baseline =
        format == LCD_MODE_COLOR ? std::max<int>(b.top, 0) : cell_.baseline + (h - cell_.height);
    OwnedBitmap image;
    GlyphBitmap& out = image.bitmap;
    out.width = static_cast<std::int16_t>(w);
    out.height = static_cast<std::int16_t>(h);
    out.format = format;
    out.alignment = format == LCD_MODE_NONE ? 1 : 4;
    out.pitch = format == LCD_MODE_NONE ? w : round_up_4(w * bytes_per_pixel(format));
    image.pixels.assign(static_cast<std::size_t>(out.pitch) * h, 0);

    auto draw = [&](const GlyphBitmap& g, int x) {
        const int y = std::clamp(baseline - g.top, 0, std::max(0, h - g.height));
        for (int gy = 0; gy < g.height && y + gy < h; ++gy) {
            for (int gx = 0; gx < g.width && x + gx < w; ++gx) {
                std::uint8_t* dst =
                    &image.pixels[static_cast<std::size_t>(y + gy) * out.pitch +
                                  static_cast<std::size_t>(x + gx) * bytes_per_pixel(format)];
                combine(dst, format, pixel_of(g, gx, gy), g.format == LCD_MODE_COLOR);
            }
        }
        return y;
    };
    const int base_x = std::clamp<int>(b.left, 0, std::max(0, w - b.width));
    const int base_y = draw(b, base_x);
    for (char32_t mark : key.combining) {
        if (mark == 0) break;
        const GlyphBitmap* g = fonts_.glyph_for(mark, style);
        if (!g) {
            if (missing_combining_.size() < MAX_MISSES && missing_combining_.insert(mark).second)
                warn("Missing combining glyph u+%X\n", static_cast<unsigned>(mark));
            continue;
        }
        draw(*g, std::max(0, (w - g->width) / 2));
    }
    out.data = image.pixels.data();
    out.left = static_cast<std::int16_t>(b.left - base_x);
    out.top = static_cast<std::int16_t>(b.top + base_y);

    auto entry = place(out);
    if (!entry) {
        misses_.insert(key);
        return std::nullopt;
    }
    store(key, b.style, *entry);
    return entry;
}

std::optional<GlyphEntry> GlyphAtlas::place(const GlyphBitmap& bitmap) {
    GlyphEntry entry;
    entry.left = bitmap.left;
    entry.top = bitmap.top;
    if (bitmap.width <= 0 || bitmap.height <= 0) return entry;  // blank, nothing to draw

    std::uint32_t w = static_cast<std::uint32_t>(bitmap.width);
    std::uint32_t h = static_cast<std::uint32_t>(bitmap.height);
    const std::uint8_t* data = bitmap.data;
    std::uint8_t alignment = bitmap.alignment;
    std::vector<std::uint8_t> scaled;
    if (bitmap.format == LCD_MODE_COLOR && h > cell_.height && cell_.height > 0) {
        const double factor = static_cast<double>(cell_.height) / h;
        w = std::max<std::uint32_t>(1, static_cast<std::uint32_t>(w * factor));
        entry.top = static_cast<float>(static_cast<int>(bitmap.top * factor));
        entry.left = 0;
        h = std::max<std::uint32_t>(1, static_cast<std::uint32_t>(h * factor));
        scaled = scale_bgra(bitmap, w, h);
        data = scaled.data();
        alignment = 4;
    }

    const AtlasPageKind kind = page_kind_for(bitmap.format);
    const auto spot = reserve(kind, w, h);
    if (!spot) {
        warn("Glyph of %ux%u pixels does not fit an atlas page\n", w, h);
        return std::nullopt;
    }
    AtlasPage& page = *spot->page;
    glBindTexture(GL_TEXTURE_2D, page.texture.get());
    glPixelStorei(GL_UNPACK_ALIGNMENT, alignment);
    glTexSubImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(spot->x), static_cast<GLint>(spot->y),
                    static_cast<GLsizei>(w), static_cast<GLsizei>(h), upload_format(bitmap.format),
                    GL_UNSIGNED_BYTE, data);

    entry.page = static_cast<std::uint8_t>(page.index);
    entry.texture = page.texture.get();
    entry.width = w;
    entry.height = h;
    entry.u0 = static_cast<float>(spot->x) / page.width;
    entry.u1 = static_cast<float>(spot->x + w) / page.width;
    entry.v0 = static_cast<float>(spot->y) / page.height;
    entry.v1 = static_cast<float>(spot->y + h) / page.height;
    return entry;
}

// Shelf packing with a free pixel between glyphs and between shelves.
std::optional<GlyphAtlas::Placement> GlyphAtlas::reserve(AtlasPageKind kind, std::uint32_t w,
                                                         std::uint32_t h) {
    if (w + 1 >= page_size_ || h + 1 >= page_size_) return std::nullopt;
    if (current_[kind] >= 0) {
        AtlasPage& p = pages_[static_cast<std::size_t>(current_[kind])];
        const bool fits_shelf =
            p.x + w + 1 < p.width && p.shelf_top + std::max(p.shelf_height, h) + 1 < p.height;
        const std::uint32_t next_top = p.shelf_top + p.shelf_height + 1;
        if (!fits_shelf && next_top + h + 1 < p.height && w + 1 < p.width) {
            p.shelf_top = next_top;
            p.shelf_height = 0;
            p.x = 0;
        }
        if (p.x + w + 1 < p.width && p.shelf_top + std::max(p.shelf_height, h) + 1 < p.height) {
            const Placement spot{&p, p.x, p.shelf_top};
            p.shelf_height = std::max(p.shelf_height, h);
            p.x += w + 1;
            return spot;
        }
    }
    const std::size_t bytes = std::size_t{page_size_} * page_size_ * page_bytes_per_pixel(kind);
    if (memory_bytes_ + bytes > memory_budget_) flush();
    AtlasPage& p = new_page(kind, page_size_, page_size_);
    current_[kind] = static_cast<int>(p.index);
    p.shelf_height = h;
    p.x = w + 1;
    return Placement{&p, 0, 0};
}

AtlasPage& GlyphAtlas::new_page(AtlasPageKind kind, std::uint32_t width, std::uint32_t height) {
    AtlasPage& p = pages_.emplace_back();
    p.index = static_cast<std::uint32_t>(pages_.size() - 1);
    p.kind = kind;
    p.width = width;
    p.height = height;
    p.sx = 2.0f / width;
    p.sy = 2.0f / height;
    p.texture = GlTexture::create();
    glBindTexture(GL_TEXTURE_2D, p.texture.get());
    const GLint filter = kind == ATLAS_PAGE_COLOR ? GL_LINEAR : GL_NEAREST;
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    const std::uint32_t bpp = page_bytes_per_pixel(kind);
    const std::vector<std::uint8_t> zeros(std::size_t{width} * height * bpp, 0);
    const GLint internal = kind == ATLAS_PAGE_COLOR      ? GL_RGBA8
                           : kind == ATLAS_PAGE_SUBPIXEL ? GL_RGB8
                                                         : GL_LUMINANCE8;
    const GLenum format = kind == ATLAS_PAGE_COLOR      ? GL_BGRA
                          : kind == ATLAS_PAGE_SUBPIXEL ? GL_RGB
                                                        : GL_RED;
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, internal, static_cast<GLsizei>(width),
                 static_cast<GLsizei>(height), 0, format, GL_UNSIGNED_BYTE, zeros.data());
    memory_bytes_ += zeros.size();
    return p;
}

void GlyphAtlas::flush() {
    if (before_flush_) before_flush_();
    pages_.clear();
    current_ = {-1, -1, -1};
    map_.clear();
    misses_.clear();
    builtin_page_ = -1;
    memory_bytes_ = 0;
    ++flush_count_;
    build_builtin_glyphs();
}

// One grayscale page of cell-sized shapes, entered under the unstyled key so that they serve
// every style.
void GlyphAtlas::build_builtin_glyphs() {
    if (settings_.font_box_chars) return;
    const std::uint32_t n = cell_.width, h = cell_.height;
    if (n < BUILTIN_GLYPH_MIN_CELL || h < BUILTIN_GLYPH_MIN_CELL) return;
    const auto code_points = builtin_glyph_code_points();
    const std::uint32_t rows = static_cast<std::uint32_t>(
        (code_points.size() + BUILTIN_PAGE_COLUMNS - 1) / BUILTIN_PAGE_COLUMNS);
    const std::uint32_t width = BUILTIN_PAGE_COLUMNS * n, height = rows * h;
    // Huge cells would make a page beyond the GL limit or the memory budget.
    if (width > static_cast<std::uint32_t>(max_texture_size_) ||
        height > static_cast<std::uint32_t>(max_texture_size_) ||
        std::size_t{width} * height > MEMORY_BUDGET / 4) {
        warn("Built-in glyphs need a %ux%u texture, larger than the GL limit %d; fonts draw them\n",
             width, height, max_texture_size_);
        return;
    }
    std::vector<std::uint8_t> pixels(std::size_t{width} * height, 0);
    AtlasPage& page = new_page(ATLAS_PAGE_GRAYSCALE, width, height);
    builtin_page_ = static_cast<int>(page.index);
    for (std::size_t i = 0; i < code_points.size(); ++i) {
        const std::uint32_t x = static_cast<std::uint32_t>(i % BUILTIN_PAGE_COLUMNS) * n;
        const std::uint32_t y = static_cast<std::uint32_t>(i / BUILTIN_PAGE_COLUMNS) * h;
        const auto glyph = draw_builtin_glyph(code_points[i], n, h);
        for (std::uint32_t r = 0; r < h; ++r)
            std::copy_n(&glyph[std::size_t{r} * n], n, &pixels[std::size_t{y + r} * width + x]);
        GlyphEntry entry;
        entry.page = static_cast<std::uint8_t>(page.index);
        entry.texture = page.texture.get();
        // Drawn at the cell's own origin whatever the glyph alignment.
        entry.left = static_cast<float>(-cell_.x_offset);
        entry.top = static_cast<float>(cell_.baseline);
        entry.width = n;
        entry.height = h;
        entry.u0 = static_cast<float>(x) / width;
        entry.u1 = static_cast<float>(x + n) / width;
        entry.v0 = static_cast<float>(y) / height;
        entry.v1 = static_cast<float>(y + h) / height;
        map_[GlyphKey(code_points[i], GLYPH_STYLE_UNSTYLED)] = entry;
    }
    glBindTexture(GL_TEXTURE_2D, page.texture.get());
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, static_cast<GLsizei>(width),
                    static_cast<GLsizei>(height), GL_RED, GL_UNSIGNED_BYTE, pixels.data());
}

}  // namespace zelto
