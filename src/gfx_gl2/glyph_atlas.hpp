#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "fonts/font_set.hpp"
#include "gfx_gl2/gl_objects.hpp"

namespace zelto {

// Cell styles as VtCell stores them, plus the style of glyphs that serve every style.
inline constexpr std::uint8_t GLYPH_STYLE_NORMAL = 0;
inline constexpr std::uint8_t GLYPH_STYLE_BOLD = 1;
inline constexpr std::uint8_t GLYPH_STYLE_ITALIC = 2;
inline constexpr std::uint8_t GLYPH_STYLE_BOLD_ITALIC = 3;
inline constexpr std::uint8_t GLYPH_STYLE_UNSTYLED = 4;

// A base code point, up to two combining code points and a style. The second combining code
// point only counts when there is a first.
struct GlyphKey {
    char32_t code_point = 0;
    char32_t combining[2] = {0, 0};
    std::uint8_t style = GLYPH_STYLE_NORMAL;

    GlyphKey() = default;
    GlyphKey(char32_t cp, std::uint8_t st, char32_t first = 0, char32_t second = 0)
        : code_point(cp), combining{first, first ? second : 0}, style(st) {}

    friend bool operator==(const GlyphKey& a, const GlyphKey& b) {
        return a.code_point == b.code_point && a.combining[0] == b.combining[0] &&
               a.combining[1] == b.combining[1] && a.style == b.style;
    }
};

struct GlyphKeyHash {
    std::size_t operator()(const GlyphKey& k) const {
        std::uint64_t h = k.code_point * 0x9E3779B97F4A7C15ull;
        h ^=
            (std::uint64_t{k.combining[0]} << 21) ^ (std::uint64_t{k.combining[1]} << 42) ^ k.style;
        h *= 0xFF51AFD7ED558CCDull;
        return static_cast<std::size_t>(h ^ (h >> 33));
    }
};

// Where a glyph lies in which texture. v0 addresses the glyph's top row, u0 its left column.
struct GlyphEntry {
    std::uint8_t page = 0;
    GLuint texture = 0;
    float left = 0;  // bearings in pixels
    float top = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    float u0 = 0, v0 = 0, u1 = 0, v1 = 0;
};

enum AtlasPageKind : std::uint32_t {
    ATLAS_PAGE_COLOR = 0,      // RGBA, linear filtering
    ATLAS_PAGE_SUBPIXEL = 1,   // RGB, nearest
    ATLAS_PAGE_GRAYSCALE = 2,  // one channel, nearest
};

struct AtlasPage {
    std::uint32_t index = 0;
    GlTexture texture;
    AtlasPageKind kind = ATLAS_PAGE_GRAYSCALE;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t shelf_height = 0;
    std::uint32_t shelf_top = 0;
    std::uint32_t x = 0;
    float sx = 0;  // 2 / width
    float sy = 0;  // 2 / height
};

AtlasPageKind page_kind_for(LcdMode format);

// What a cell looks like inside the atlas owner's grid.
struct AtlasCell {
    std::uint16_t width = 0;  // padding included
    std::uint16_t height = 0;
    std::int32_t baseline = 0;  // pixels from the cell's top to the baseline
    std::int32_t x_offset = 0;  // the `glyph-align` shift the line renderer adds to every glyph
};

// The glyph cache of the renderer: rasterised glyphs packed on shelves of texture pages, one
// current page per kind, found again by their key. Built-in box glyphs get a page of their own.
class GlyphAtlas {
  public:
    static constexpr std::uint32_t PAGE_SIZE = 1024;
    // Pages and entries beyond these are not grown but flushed: the whole atlas starts again.
    static constexpr std::size_t MEMORY_BUDGET = 64u << 20;
    static constexpr std::size_t MAX_ENTRIES = 1u << 18;
    static constexpr std::size_t MAX_MISSES = 1u << 16;

    GlyphAtlas(FontSet& fonts, const Settings& settings, AtlasCell cell, GLint max_texture_size);

    // The glyph for a key, rasterised and placed on first use. None when no font has it.
    std::optional<GlyphEntry> get_glyph(const GlyphKey& key);
    void insert(const GlyphKey& key, const GlyphEntry& entry);

    // Tests lower the budget to see the flush without filling 64 MiB.
    void set_memory_budget(std::size_t bytes) { memory_budget_ = bytes; }

    // Called before a flush deletes the pages, so that batched draws can be issued first.
    void set_before_flush(std::function<void()> callback) { before_flush_ = std::move(callback); }

    const std::vector<AtlasPage>& pages() const { return pages_; }
    std::size_t entry_count() const { return map_.size(); }
    std::size_t memory_bytes() const { return memory_bytes_; }
    std::uint32_t flush_count() const { return flush_count_; }
    std::uint32_t page_size() const { return page_size_; }
    // The built-in box glyphs' page, or null when there is none (small cells, `font-box-chars`).
    const AtlasPage* builtin_page() const;

  private:
    struct Placement {
        AtlasPage* page;
        std::uint32_t x, y;
    };
    // A bitmap copied out of the font set, which overwrites its result on every call.
    struct OwnedBitmap {
        GlyphBitmap bitmap;
        std::vector<std::uint8_t> pixels;
    };

    std::optional<GlyphEntry> lookup(const GlyphKey& key) const;
    std::optional<GlyphEntry> find_with_style_fallback(const GlyphKey& key) const;
    std::optional<GlyphEntry> rasterise(const GlyphKey& key);
    std::optional<GlyphEntry> compose(const GlyphKey& key);
    std::optional<GlyphEntry> place(const GlyphBitmap& bitmap);
    std::optional<Placement> reserve(AtlasPageKind kind, std::uint32_t w, std::uint32_t h);
    AtlasPage& new_page(AtlasPageKind kind, std::uint32_t width, std::uint32_t height);
    void store(const GlyphKey& key, FontStyle used, const GlyphEntry& entry);
    void flush();
    void build_builtin_glyphs();
    void warn_missing(const GlyphKey& key);

    FontSet& fonts_;
    const Settings& settings_;
    AtlasCell cell_;
    std::uint32_t page_size_;
    GLint max_texture_size_;
    std::vector<AtlasPage> pages_;
    std::array<int, 3> current_{-1, -1, -1};  // page index per kind
    std::unordered_map<GlyphKey, GlyphEntry, GlyphKeyHash> map_;
    std::unordered_set<GlyphKey, GlyphKeyHash> misses_;
    std::unordered_set<char32_t> missing_combining_;
    int builtin_page_ = -1;
    std::size_t memory_bytes_ = 0;
    std::size_t memory_budget_ = MEMORY_BUDGET;
    std::uint32_t flush_count_ = 0;
    std::function<void()> before_flush_;
};

}  // namespace zelto
