#pragma once

#include <ft2build.h>
#include FT_FREETYPE_H

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "config/settings.hpp"
#include "fonts/glyph_bitmap.hpp"
#include "fonts/lcd_mode.hpp"

namespace zelto {

struct FreeTypeFaceDeleter {
    void operator()(FT_Face face) const { FT_Done_Face(face); }
};
struct FreeTypeLibraryDeleter {
    void operator()(FT_Library library) const { FT_Done_FreeType(library); }
};
using FreeTypeFacePtr = std::unique_ptr<FT_FaceRec_, FreeTypeFaceDeleter>;
using FreeTypeLibraryPtr = std::unique_ptr<FT_LibraryRec_, FreeTypeLibraryDeleter>;

// Copies a FreeType bitmap into `pixels` in one of the six formats, chosen by the pixel mode
// FreeType returned (not by what the face asked for); rows are read by the pitch, whose sign
// gives their order. Bearings and style are left to the caller. None for unknown modes and
// absurd sizes.
std::optional<GlyphBitmap> normalise_bitmap(const FT_Bitmap& bitmap, bool bgr,
                                            std::vector<std::uint8_t>& pixels);

bool ranges_contain(const std::vector<CodepointRange>& ranges, char32_t code_point);

// One font file, opened lazily at the current size, DPI and LCD mode.
struct FontFace {
    FreeTypeFacePtr face;
    bool loaded = false;
    // Failed to open after start-up: warned about once and skipped from then on.
    bool unusable = false;
    std::string path;
    std::int16_t line_height = 0;
    std::int16_t advance = 0;
    LcdMode lcd_mode = LCD_MODE_NONE;
    bool bgr = false;
    FT_Render_Mode render_mode = FT_RENDER_MODE_NORMAL;
    FT_Int32 load_flags = FT_LOAD_DEFAULT;
    std::vector<CodepointRange> ranges;  // empty: every code point
    std::int16_t size_offset = 0;

    // Opens at max(1, points) at dpi x dpi in `mode`. On failure `error` holds the message.
    bool open(FT_Library library, int points, unsigned dpi, LcdMode mode, std::string& error);
    void close();
    bool covers(char32_t code_point) const { return ranges_contain(ranges, code_point); }
};

// One primary font: its regular face and, when the family has them, the three styled faces.
struct StyledFont {
    std::array<FontFace, 4> faces;  // regular, bold, italic, bold italic
    std::array<bool, 4> present{};  // a file exists for the style
    std::vector<CodepointRange> ranges;
    LcdMode lcd_mode = LCD_MODE_NONE;
    bool unusable = false;

    FontFace& regular() { return faces[0]; }
    // The face drawing `style` and the style it really is.
    std::pair<FontFace*, FontStyle> face_for(FontStyle style);
};

// Cell metrics of a glyph that was loaded but not rendered.
struct GlyphMetrics {
    std::int16_t width = 0;
    std::int16_t height = 0;
    std::int16_t left = 0;
    std::int16_t top = 0;
    std::int32_t bearing_y = 0;  // 26.6 fixed point
};

// The faces of every configured font and the fallback walk over them.
class FontSet {
  public:
    // Opens the first primary font; failing that is fatal ("Failed to load font file..." etc.).
    explicit FontSet(Settings& settings);
    ~FontSet();
    FontSet(const FontSet&) = delete;
    FontSet& operator=(const FontSet&) = delete;

    void unload();
    // Reopens the first primary font at the size, DPI and LCD order now in the settings. When it
    // cannot be opened the previous size, DPI and order are put back (in the settings too), the
    // faces reopened with them, one warning printed and false returned.
    bool reload();
    // An output rule changed the LCD order: every face and the configured mode take it.
    void set_lcd_order(LcdMode order);

    // The fallback walk: the first face covering the code point draws it. Null when none does.
    // The result is valid until the next call of glyph_for or render.
    const GlyphBitmap* glyph_for(char32_t code_point, FontStyle style);
    // Rasterises with one face (which must be open).
    const GlyphBitmap* render(FontFace& face, char32_t code_point);
    std::optional<GlyphMetrics> primary_glyph_metrics(char32_t code_point, FontStyle style);

    std::uint16_t line_height() const { return line_height_; }
    std::uint16_t advance() const { return advance_; }
    // The first primary font's effective mode (a monochrome bitmap family runs as NONE).
    LcdMode lcd_mode() const { return lcd_mode_; }

    std::vector<StyledFont>& primary_fonts() { return primary_; }
    std::vector<FontFace>& symbol_faces() { return symbol_; }
    std::vector<FontFace>& color_faces() { return color_; }
    const Settings& settings() const { return settings_; }

  private:
    bool load(bool fatal_on_failure);
    bool open_styled(StyledFont& font, bool fatal_on_failure);
    bool open_unstyled(FontFace& face, LcdMode mode);
    int face_points(const FontFace& face) const;
    void remember_opened();

    Settings& settings_;
    FreeTypeLibraryPtr library_;
    std::vector<StyledFont> primary_;
    std::vector<FontFace> symbol_;
    std::vector<FontFace> color_;
    LcdMode lcd_mode_ = LCD_MODE_NONE;
    LcdMode configured_lcd_mode_ = LCD_MODE_H_RGB;
    std::uint16_t line_height_ = 0;
    std::uint16_t advance_ = 0;
    // What the faces were last opened with, restored when a reload fails.
    std::uint16_t opened_size_ = 0;
    std::uint16_t opened_dpi_ = 0;
    LcdMode opened_order_ = LCD_MODE_H_RGB;
    std::vector<std::uint8_t> pixels_;  // the bitmap the result slot points into
    GlyphBitmap result_;
};

}  // namespace zelto
