#include "fonts/font_set.hpp"

#include FT_LCD_FILTER_H

#include <algorithm>
#include <cstring>
#include <string>

#include "util/diagnostics.hpp"

namespace zelto {

namespace {

// The largest glyph bitmap taken from FreeType; anything bigger counts as missing.
constexpr unsigned MAX_GLYPH_SIDE = 4096;

std::string utf8(char32_t code_point) {
    std::string out;
    if (code_point < 0x80) {
        out += static_cast<char>(code_point);
    } else if (code_point < 0x800) {
        out += static_cast<char>(0xC0 | (code_point >> 6));
        out += static_cast<char>(0x80 | (code_point & 0x3F));
    } else if (code_point < 0x10000) {
        out += static_cast<char>(0xE0 | (code_point >> 12));
        out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code_point & 0x3F));
    } else if (code_point < 0x110000) {
        out += static_cast<char>(0xF0 | (code_point >> 18));
        out += static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code_point & 0x3F));
    }
    return out;
}

// Printable form of a code point for glyph warnings: controls would garble the terminal.
std::string printable(char32_t code_point) {
    if (code_point < 0x20 || code_point == 0x7F || (code_point >= 0x80 && code_point < 0xA0))
        return "?";
    return utf8(code_point);
}

// Row y (top row 0) of a FreeType bitmap; a negative pitch means the rows are stored bottom up.
const std::uint8_t* bitmap_row(const FT_Bitmap& bitmap, unsigned y) {
    const int pitch = bitmap.pitch;
    if (pitch >= 0) return bitmap.buffer + static_cast<std::size_t>(y) * pitch;
    return bitmap.buffer + static_cast<std::size_t>(bitmap.rows - 1 - y) * -pitch;
}

std::uint32_t round_up_4(std::uint32_t n) {
    return (n + 3) & ~3u;
}

void set_face_flags(FontFace& face, bool monochrome) {
    if (monochrome) {
        if (face.lcd_mode != LCD_MODE_COLOR) face.lcd_mode = LCD_MODE_NONE;
        face.load_flags = face.lcd_mode == LCD_MODE_COLOR ? FT_LOAD_COLOR : 0;
        face.render_mode = FT_RENDER_MODE_NORMAL;
    } else {
        switch (face.lcd_mode) {
            case LCD_MODE_H_RGB:
            case LCD_MODE_H_BGR:
                face.load_flags = FT_LOAD_TARGET_LCD;
                face.render_mode = FT_RENDER_MODE_LCD;
                break;
            case LCD_MODE_V_RGB:
            case LCD_MODE_V_BGR:
                face.load_flags = FT_LOAD_TARGET_LCD_V;
                face.render_mode = FT_RENDER_MODE_LCD_V;
                break;
            case LCD_MODE_COLOR:
                face.load_flags = FT_LOAD_COLOR;
                face.render_mode = FT_RENDER_MODE_NORMAL;
                break;
            default:
                face.load_flags = FT_LOAD_DEFAULT;
                face.render_mode = FT_RENDER_MODE_NORMAL;
                break;
        }
    }
    face.bgr = face.lcd_mode == LCD_MODE_H_BGR || face.lcd_mode == LCD_MODE_V_BGR;
}

}  // namespace

std::optional<GlyphBitmap> normalise_bitmap(const FT_Bitmap& bitmap, bool bgr,
                                            std::vector<std::uint8_t>& pixels) {
    GlyphBitmap out;
    if (bitmap.width > MAX_GLYPH_SIDE * 3 || bitmap.rows > MAX_GLYPH_SIDE * 3) return std::nullopt;
    if (bitmap.rows > 0 && (bitmap.buffer == nullptr || bitmap.pitch == 0)) return std::nullopt;
    const unsigned src_w = bitmap.width, src_h = bitmap.rows;

    switch (bitmap.pixel_mode) {
        case FT_PIXEL_MODE_MONO:
        case FT_PIXEL_MODE_GRAY2:
        case FT_PIXEL_MODE_GRAY4:
        case FT_PIXEL_MODE_GRAY: {
            const unsigned bits = bitmap.pixel_mode == FT_PIXEL_MODE_MONO    ? 1
                                  : bitmap.pixel_mode == FT_PIXEL_MODE_GRAY2 ? 2
                                  : bitmap.pixel_mode == FT_PIXEL_MODE_GRAY4 ? 4
                                                                             : 8;
            const unsigned max_value = (1u << bits) - 1;
            out.width = static_cast<std::int16_t>(src_w);
            out.height = static_cast<std::int16_t>(src_h);
            out.pitch = src_w;
            out.alignment = 1;
            out.format = LCD_MODE_NONE;
            pixels.assign(static_cast<std::size_t>(src_w) * src_h, 0);
            for (unsigned y = 0; y < src_h; ++y) {
                const std::uint8_t* row = bitmap_row(bitmap, y);
                std::uint8_t* dst = &pixels[static_cast<std::size_t>(y) * src_w];
                for (unsigned x = 0; x < src_w; ++x) {
                    if (bits == 8) {
                        dst[x] = row[x];
                        continue;
                    }
                    const unsigned bit = x * bits;
                    const unsigned value = (row[bit / 8] >> (8 - bits - bit % 8)) & max_value;
                    dst[x] = static_cast<std::uint8_t>(value * 255 / max_value);
                }
            }
            break;
        }
        case FT_PIXEL_MODE_LCD: {
            const unsigned w = src_w / 3;
            out.width = static_cast<std::int16_t>(w);
            out.height = static_cast<std::int16_t>(src_h);
            out.pitch = round_up_4(w * 3);
            out.alignment = 4;
            out.format = bgr ? LCD_MODE_H_BGR : LCD_MODE_H_RGB;
            pixels.assign(static_cast<std::size_t>(out.pitch) * src_h, 0);
            for (unsigned y = 0; y < src_h; ++y)
                std::memcpy(&pixels[static_cast<std::size_t>(y) * out.pitch], bitmap_row(bitmap, y),
                            w * 3);
            break;
        }
        case FT_PIXEL_MODE_LCD_V: {
            // Three rows per pixel row: regroup each column's three bytes into one pixel.
            const unsigned h = src_h / 3;
            out.width = static_cast<std::int16_t>(src_w);
            out.height = static_cast<std::int16_t>(h);
            out.pitch = round_up_4(src_w * 3);
            out.alignment = 4;
            out.format = bgr ? LCD_MODE_V_BGR : LCD_MODE_V_RGB;
            pixels.assign(static_cast<std::size_t>(out.pitch) * h, 0);
            for (unsigned y = 0; y < h; ++y) {
                std::uint8_t* dst = &pixels[static_cast<std::size_t>(y) * out.pitch];
                for (unsigned c = 0; c < 3; ++c) {
                    const std::uint8_t* row = bitmap_row(bitmap, 3 * y + c);
                    for (unsigned x = 0; x < src_w; ++x) dst[3 * x + c] = row[x];
                }
            }
            break;
        }
        case FT_PIXEL_MODE_BGRA: {
            out.width = static_cast<std::int16_t>(src_w);
            out.height = static_cast<std::int16_t>(src_h);
            out.pitch = src_w * 4;
            out.alignment = 4;
            out.format = LCD_MODE_COLOR;
            pixels.assign(static_cast<std::size_t>(out.pitch) * src_h, 0);
            for (unsigned y = 0; y < src_h; ++y)
                std::memcpy(&pixels[static_cast<std::size_t>(y) * out.pitch], bitmap_row(bitmap, y),
                            src_w * 4);
            break;
        }
        default:
            return std::nullopt;
    }
    out.data = pixels.data();
    return out;
}

bool ranges_contain(const std::vector<CodepointRange>& ranges, char32_t code_point) {
    if (ranges.empty()) return true;
    return std::any_of(ranges.begin(), ranges.end(), [&](const CodepointRange& r) {
        return code_point >= r.first && code_point <= r.last;
    });
}

bool FontFace::open(FT_Library library, int points, unsigned dpi, LcdMode mode,
                    std::string& error) {
    close();
    // An order not known yet renders grayscale until the output reports one.
    lcd_mode = mode == LCD_MODE_UNDEFINED ? LCD_MODE_NONE : mode;
    FT_Face opened = nullptr;
    if (FT_New_Face(library, path.c_str(), 0, &opened) != 0) {
        error = "failed to load font file " + path + " ";
        return false;
    }
    face.reset(opened);
    const FT_F26Dot6 size = static_cast<FT_F26Dot6>(std::max(1, points)) * 64;
    if (FT_Set_Char_Size(opened, size, size, dpi, dpi) != 0) {
        if (opened->size && opened->size->metrics.height != 0) {
            error = "failed to set font size for " + path + " ";
            face.reset();
            return false;
        }
        if (opened->num_fixed_sizes < 1 ||
            FT_Select_Size(opened, opened->num_fixed_sizes - 1) != 0) {
            error = "failed to select bitmap font size for " + path + " ";
            face.reset();
            return false;
        }
    }
    if (FT_Load_Char(opened, U'(', FT_LOAD_DEFAULT) != 0) {
        error = "failed to load font " + path;
        face.reset();
        return false;
    }
    // Cells are 16-bit; a size beyond that is clamped rather than wrapped.
    advance =
        static_cast<std::int16_t>(std::clamp<FT_Pos>(opened->glyph->advance.x / 64, 0, 32767));
    line_height =
        static_cast<std::int16_t>(std::clamp<FT_Pos>(opened->size->metrics.height / 64, 0, 32767));
    const FT_GlyphSlot slot = opened->glyph;
    const bool monochrome =
        slot->format == FT_GLYPH_FORMAT_BITMAP && slot->bitmap.pixel_mode == FT_PIXEL_MODE_MONO;
    set_face_flags(*this, monochrome);
    loaded = true;
    return true;
}

void FontFace::close() {
    face.reset();
    loaded = false;
    line_height = 0;
}

std::pair<FontFace*, FontStyle> StyledFont::face_for(FontStyle style) {
    auto usable = [&](int i) { return present[i] && faces[i].loaded && !faces[i].unusable; };
    switch (style) {
        case FONT_STYLE_BOLD:
            if (usable(1)) return {&faces[1], FONT_STYLE_BOLD};
            break;
        case FONT_STYLE_ITALIC:
            if (usable(2)) return {&faces[2], FONT_STYLE_ITALIC};
            break;
        case FONT_STYLE_BOLD_ITALIC:
            if (usable(3)) return {&faces[3], FONT_STYLE_BOLD_ITALIC};
            if (usable(2)) return {&faces[2], FONT_STYLE_ITALIC};
            if (usable(1)) return {&faces[1], FONT_STYLE_BOLD};
            break;
        default:
            break;
    }
    return {&faces[0], FONT_STYLE_REGULAR};
}

FontSet::FontSet(Settings& settings) : settings_(settings) {
    FT_Library library = nullptr;
    if (FT_Init_FreeType(&library) != 0) fatal("Failed to initialize freetype %s", "");
    library_.reset(library);
    if (FT_Library_SetLcdFilter(library, FT_LCD_FILTER_DEFAULT) != 0) {
        warn("Freetype has no clear type support %s\n", "");
    }
    configured_lcd_mode_ = static_cast<LcdMode>(settings.current_lcd_order);

    for (const PrimaryFont& entry : settings.font) {
        if (entry.regular_file.empty()) continue;
        StyledFont& font = primary_.emplace_back();
        const std::string* files[4] = {&entry.regular_file, &entry.bold_file, &entry.italic_file,
                                       &entry.bold_italic_file};
        for (int i = 0; i < 4; ++i) {
            font.present[i] = !files[i]->empty();
            font.faces[i].path = *files[i];
            font.faces[i].size_offset = entry.size_offset;
            font.faces[i].ranges = entry.ranges;
            font.faces[i].lcd_mode = configured_lcd_mode_;
        }
        font.ranges = entry.ranges;
        font.lcd_mode = configured_lcd_mode_;
    }
    auto add_unstyled = [](std::vector<FontFace>& list, const std::vector<UnstyledFont>& entries,
                           LcdMode mode) {
        for (const UnstyledFont& entry : entries) {
            if (entry.file.empty()) continue;
            FontFace& face = list.emplace_back();
            face.path = entry.file;
            face.size_offset = entry.size_offset;
            face.ranges = entry.ranges;
            face.lcd_mode = mode;
        }
    };
    add_unstyled(symbol_, settings.font_symbol, configured_lcd_mode_);
    add_unstyled(color_, settings.font_color, LCD_MODE_COLOR);
    if (primary_.empty()) {
        fatal("Failed to load any primary font. 'zelto --%s' to display font info on start",
              "debug-font");
    }
    load(true);
    remember_opened();
}

void FontSet::remember_opened() {
    opened_size_ = settings_.font_size;
    opened_dpi_ = settings_.current_dpi;
    opened_order_ = configured_lcd_mode_;
}

FontSet::~FontSet() {
    unload();
    primary_.clear();
    symbol_.clear();
    color_.clear();
}

int FontSet::face_points(const FontFace& face) const {
    return static_cast<int>(settings_.font_size) + face.size_offset;
}

bool FontSet::open_styled(StyledFont& font, bool fatal_on_failure) {
    std::string error;
    for (int i = 0; i < 4; ++i) {
        FontFace& face = font.faces[i];
        if (!font.present[i] || face.loaded || face.unusable) continue;
        if (face.open(library_.get(), face_points(face), settings_.current_dpi, font.lcd_mode,
                      error))
            continue;
        if (i == 0 && fatal_on_failure) fatal("%s", error.c_str());
        warn("%s\n", error.c_str());
        face.unusable = true;
        if (i == 0) {
            font.unusable = true;
            return false;
        }
    }
    font.lcd_mode = font.regular().lcd_mode;
    return true;
}

bool FontSet::open_unstyled(FontFace& face, LcdMode mode) {
    if (face.loaded) return true;
    if (face.unusable) return false;
    std::string error;
    if (face.open(library_.get(), face_points(face), settings_.current_dpi, mode, error))
        return true;
    warn("%s\n", error.c_str());
    face.unusable = true;
    return false;
}

bool FontSet::load(bool fatal_on_failure) {
    StyledFont& first = primary_.front();
    first.unusable = false;
    first.regular().unusable = false;
    if (!open_styled(first, fatal_on_failure)) return false;
    if (settings_.preload_all_fonts) {
        for (std::size_t i = 1; i < primary_.size(); ++i) {
            if (!primary_[i].unusable) open_styled(primary_[i], false);
        }
        for (FontFace& face : symbol_) open_unstyled(face, configured_lcd_mode_);
        for (FontFace& face : color_) open_unstyled(face, LCD_MODE_COLOR);
    }
    lcd_mode_ = first.lcd_mode;
    line_height_ = static_cast<std::uint16_t>(std::max<int>(0, first.regular().line_height));
    advance_ = static_cast<std::uint16_t>(std::max<int>(0, first.regular().advance));
    return true;
}

void FontSet::unload() {
    for (StyledFont& font : primary_) {
        for (FontFace& face : font.faces) face.close();
    }
    for (FontFace& face : symbol_) face.close();
    for (FontFace& face : color_) face.close();
}

bool FontSet::reload() {
    // Open the new first primary face before closing anything, so that a file that went away
    // leaves the running session with the faces it had.
    StyledFont& first = primary_.front();
    StyledFont fresh;
    for (int i = 0; i < 4; ++i) {
        fresh.present[i] = first.present[i];
        fresh.faces[i].path = first.faces[i].path;
        fresh.faces[i].size_offset = first.faces[i].size_offset;
        fresh.faces[i].ranges = first.faces[i].ranges;
    }
    fresh.ranges = first.ranges;
    fresh.lcd_mode = configured_lcd_mode_;
    std::string error;
    FontFace& regular = fresh.regular();
    if (!regular.open(library_.get(), face_points(regular), settings_.current_dpi,
                      configured_lcd_mode_, error)) {
        warn("%s\n", error.c_str());
        settings_.font_size = opened_size_;
        settings_.current_dpi = opened_dpi_;
        set_lcd_order(opened_order_);
        return false;
    }
    unload();
    first = std::move(fresh);
    load(false);
    remember_opened();
    return true;
}

void FontSet::set_lcd_order(LcdMode order) {
    settings_.current_lcd_order = order;
    configured_lcd_mode_ = order;
    for (StyledFont& font : primary_) {
        font.lcd_mode = order;
        for (FontFace& face : font.faces) face.lcd_mode = order;
    }
    for (FontFace& face : symbol_) face.lcd_mode = order;
}

const GlyphBitmap* FontSet::glyph_for(char32_t code_point, FontStyle style) {
    for (StyledFont& font : primary_) {
        if (font.unusable || !ranges_contain(font.ranges, code_point)) continue;
        if (!font.regular().loaded && !open_styled(font, false)) continue;
        auto [face, used] = font.face_for(style);
        if (const GlyphBitmap* glyph = render(*face, code_point)) {
            result_.style = used;
            return glyph;
        }
    }
    for (FontFace& face : symbol_) {
        if (!face.covers(code_point) || !open_unstyled(face, configured_lcd_mode_)) continue;
        if (const GlyphBitmap* glyph = render(face, code_point)) return glyph;
    }
    for (FontFace& face : color_) {
        if (!face.covers(code_point) || !open_unstyled(face, LCD_MODE_COLOR)) continue;
        if (const GlyphBitmap* glyph = render(face, code_point)) return glyph;
    }
    return nullptr;
}

const GlyphBitmap* FontSet::render(FontFace& face, char32_t code_point) {
    if (!face.loaded) return nullptr;
    FT_Face ft = face.face.get();
    const FT_UInt index = FT_Get_Char_Index(ft, code_point);
    if (index == 0) return nullptr;

    const bool excluded =
        !settings_.exclude_lcd.empty() && ranges_contain(settings_.exclude_lcd, code_point);
    const bool grayscale = excluded && face.lcd_mode != LCD_MODE_COLOR;
    const LcdMode mode = grayscale ? LCD_MODE_NONE : face.lcd_mode;
    const FT_Int32 flags = grayscale ? FT_LOAD_DEFAULT : face.load_flags;
    const FT_Render_Mode render_mode = grayscale ? FT_RENDER_MODE_NORMAL : face.render_mode;

    if (FT_Load_Glyph(ft, index, flags) != 0) {
        warn("glyph load error %s(%d) %s\n", printable(code_point).c_str(),
             static_cast<int>(code_point), "");
        return nullptr;
    }
    if (ft->glyph->format != FT_GLYPH_FORMAT_BITMAP &&
        FT_Render_Glyph(ft->glyph, render_mode) != 0) {
        warn("glyph render error %s(%d) %s\n", printable(code_point).c_str(),
             static_cast<int>(code_point), "");
        return nullptr;
    }
    const FT_GlyphSlot slot = ft->glyph;
    auto out = normalise_bitmap(
        slot->bitmap, face.bgr || mode == LCD_MODE_H_BGR || mode == LCD_MODE_V_BGR, pixels_);
    if (!out) return nullptr;
    out->left = static_cast<std::int16_t>(std::clamp<FT_Int>(slot->bitmap_left, -32768, 32767));
    out->top = static_cast<std::int16_t>(std::clamp<FT_Int>(slot->bitmap_top, -32768, 32767));
    out->style = FONT_STYLE_NONE;
    result_ = *out;
    return &result_;
}

std::optional<GlyphMetrics> FontSet::primary_glyph_metrics(char32_t code_point, FontStyle style) {
    FontFace* face = primary_.front().face_for(style).first;
    if (!face->loaded) return std::nullopt;
    FT_Face ft = face->face.get();
    const FT_UInt index = FT_Get_Char_Index(ft, code_point);
    if (index == 0) return std::nullopt;
    if (FT_Load_Glyph(ft, index, face->load_flags) != 0) {
        warn("glyph load error %s(%d) %s\n", printable(code_point).c_str(),
             static_cast<int>(code_point), "");
        return std::nullopt;
    }
    const FT_GlyphSlot slot = ft->glyph;
    GlyphMetrics m;
    const unsigned w = slot->bitmap.width, h = slot->bitmap.rows;
    const bool horizontal_lcd =
        face->lcd_mode == LCD_MODE_H_RGB || face->lcd_mode == LCD_MODE_H_BGR;
    const bool vertical_lcd = face->lcd_mode == LCD_MODE_V_RGB || face->lcd_mode == LCD_MODE_V_BGR;
    m.width = static_cast<std::int16_t>(horizontal_lcd ? w / 3 : w);
    m.height = static_cast<std::int16_t>(vertical_lcd ? h / 3 : h);
    m.left = static_cast<std::int16_t>(slot->bitmap_left);
    m.top = static_cast<std::int16_t>(slot->bitmap_top);
    m.bearing_y = static_cast<std::int32_t>(slot->metrics.horiBearingY);
    return m;
}

}  // namespace zelto
