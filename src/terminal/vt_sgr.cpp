// SGR: the character attributes every printed character and every erase copies.
#include <algorithm>
#include <cstring>

#include "terminal/vt.hpp"
#include "util/diagnostics.hpp"

namespace zelto {

namespace {

enum SgrColorTarget : std::uint8_t {
    SGR_COLOR_FG,
    SGR_COLOR_BG,
    SGR_COLOR_LINE,
};

constexpr std::uint8_t UNDERLINE_KINDS = VT_CELL_UNDERLINED | VT_CELL_DOUBLE_UNDERLINE | VT_CELL_CURLY_UNDERLINE;

std::uint8_t color_byte(std::uint32_t value) { return static_cast<std::uint8_t>(std::min<std::uint32_t>(value, 255)); }

void set_palette_color(VtCell& cell, SgrColorTarget target, std::uint32_t value) {
    const std::uint8_t index = color_byte(value);
    switch (target) {
    case SGR_COLOR_FG: cell.set_fg_index(index); break;
    case SGR_COLOR_BG: cell.set_bg_index(index); break;
    case SGR_COLOR_LINE:
        cell.line_color[0] = index;
        cell.line_color[1] = cell.line_color[2] = cell.line_color[3] = 0;
        cell.flags |= VT_CELL_LINE_COLOR_IS_PALETTE_INDEX | VT_CELL_LINE_COLOR_SET;
        break;
    }
}

void set_direct_color(VtCell& cell, SgrColorTarget target, std::uint32_t r, std::uint32_t g, std::uint32_t b) {
    const std::uint8_t rgb[4] = {color_byte(r), color_byte(g), color_byte(b), 0};
    switch (target) {
    case SGR_COLOR_FG:
        std::memcpy(cell.fg, rgb, sizeof rgb);
        cell.flags &= static_cast<std::uint8_t>(~VT_CELL_FG_IS_PALETTE_INDEX);
        break;
    case SGR_COLOR_BG:
        std::memcpy(cell.bg, rgb, sizeof rgb);
        cell.bg[3] = 255;
        cell.flags &= static_cast<std::uint8_t>(~VT_CELL_BG_IS_PALETTE_INDEX);
        break;
    case SGR_COLOR_LINE:
        std::memcpy(cell.line_color, rgb, sizeof rgb);
        cell.flags &= static_cast<std::uint8_t>(~VT_CELL_LINE_COLOR_IS_PALETTE_INDEX);
        cell.flags |= VT_CELL_LINE_COLOR_SET;
        break;
    }
}

void set_underline(VtCell& cell, std::uint8_t kind) {
    cell.decorations = static_cast<std::uint8_t>((cell.decorations & ~UNDERLINE_KINDS) | kind);
}

void set_font_style(VtCell& cell, bool bold, bool italic) {
    cell.font_style = static_cast<std::uint8_t>((bold ? VT_FONT_STYLE_BOLD : 0) | (italic ? VT_FONT_STYLE_ITALIC : 0));
}

bool is_bold(const VtCell& cell) { return (cell.font_style & VT_FONT_STYLE_BOLD) != 0; }
bool is_italic(const VtCell& cell) { return (cell.font_style & VT_FONT_STYLE_ITALIC) != 0; }

void set_flag(VtCell& cell, std::uint8_t flag, bool on) {
    cell.flags = static_cast<std::uint8_t>(on ? cell.flags | flag : cell.flags & ~flag);
}

void set_decoration(VtCell& cell, std::uint8_t flag, bool on) {
    cell.decorations = static_cast<std::uint8_t>(on ? cell.decorations | flag : cell.decorations & ~flag);
}

// The parameters as SGR reads them: an empty sub-parameter disappears (38:2::r:g:b reads as
// 38:2:r:g:b's colour-space form), so a ':' group is the parameter and the sub-parameters after it.
class SgrParams {
public:
    explicit SgrParams(const VtCsi& csi) : csi_(csi) {}
    std::size_t size() const { return csi_.count; }
    std::uint32_t value(std::size_t i) const { return csi_.param(i, 0); }
    bool is_sub(std::size_t i) const { return i < csi_.count && csi_.sub[i]; }
    // One past the last sub-parameter of the group starting at `i`.
    std::size_t group_end(std::size_t i) const {
        std::size_t end = i + 1;
        while (is_sub(end)) ++end;
        return end;
    }

private:
    const VtCsi& csi_;
};

// 38, 48 and 58 with ':' sub-parameters: the group is taken as a unit. 2 takes r:g:b, or
// cs:r:g:b with a colour space in front; 5 takes an index; anything else is skipped whole.
void apply_colon_color(VtCell& cell, SgrColorTarget target, const SgrParams& params, std::size_t first,
                       std::size_t end) {
    const std::size_t values = end - first - 1;
    if (values < 1) return;
    const std::uint32_t kind = params.value(first + 1);
    const std::size_t after = first + 2;
    const std::size_t rest = values - 1;
    if (kind == 5 && rest >= 1) {
        set_palette_color(cell, target, params.value(after));
    } else if (kind == 2 && rest >= 3) {
        const std::size_t rgb = rest >= 4 ? after + 1 : after;
        set_direct_color(cell, target, params.value(rgb), params.value(rgb + 1), params.value(rgb + 2));
    }
}

}  // namespace

void Vt::select_graphic_rendition(const VtCsi& csi) {
    VtCell& cell = current_attributes_;
    if (csi.count == 0) {
        reset_attributes();
        return;
    }
    const SgrParams params(csi);
    std::size_t i = 0;
    while (i < params.size()) {
        const std::uint32_t code = params.value(i);
        const std::size_t group_end = params.group_end(i);
        if (code == 38 || code == 48 || code == 58) {
            const SgrColorTarget target = code == 38 ? SGR_COLOR_FG : code == 48 ? SGR_COLOR_BG : SGR_COLOR_LINE;
            if (group_end > i + 1) {
                apply_colon_color(cell, target, params, i, group_end);
                i = group_end;
                continue;
            }
            // The ';' form: 38;5;n and 38;2;r;g;b. Too few parameters end the sequence.
            if (i + 1 >= params.size()) return;
            const std::uint32_t kind = params.value(i + 1);
            if (kind == 5) {
                if (i + 2 >= params.size()) return;
                set_palette_color(cell, target, params.value(i + 2));
                i += 3;
            } else if (kind == 2) {
                if (i + 4 >= params.size()) return;
                set_direct_color(cell, target, params.value(i + 2), params.value(i + 3), params.value(i + 4));
                i += 5;
            } else {
                i += 3;
            }
            continue;
        }
        if (code == 4 && group_end > i + 1) {
            // 4:n picks the underline kind; the group never resets anything else.
            switch (params.value(i + 1)) {
            case 0: set_underline(cell, 0); break;
            case 2: set_underline(cell, VT_CELL_DOUBLE_UNDERLINE); break;
            case 3: set_underline(cell, VT_CELL_CURLY_UNDERLINE); break;
            default: set_underline(cell, VT_CELL_UNDERLINED); break;
            }
            i = group_end;
            continue;
        }
        apply_sgr_code(code);
        // Sub-parameters of any other code carry nothing zelto uses.
        i = group_end;
    }
}

void Vt::apply_sgr_code(std::uint32_t code) {
    VtCell& cell = current_attributes_;
    switch (code) {
    case 0: reset_attributes(); return;
    case 1: set_font_style(cell, true, is_italic(cell)); return;
    case 2: set_flag(cell, VT_CELL_DIM, true); return;
    case 3: set_font_style(cell, is_bold(cell), true); return;
    case 4: set_underline(cell, VT_CELL_UNDERLINED); return;
    case 5:
    case 6: set_flag(cell, VT_CELL_BLINKING, true); return;
    case 7: set_flag(cell, VT_CELL_INVERTED, true); return;
    case 8: set_flag(cell, VT_CELL_HIDDEN, true); return;
    case 9: set_decoration(cell, VT_CELL_STRIKETHROUGH, true); return;
    case 21: set_underline(cell, VT_CELL_DOUBLE_UNDERLINE); return;
    case 22:
        set_font_style(cell, false, is_italic(cell));
        set_flag(cell, VT_CELL_DIM, false);
        return;
    case 23: set_font_style(cell, is_bold(cell), false); return;
    case 24: set_underline(cell, 0); return;
    case 25: set_flag(cell, VT_CELL_BLINKING, false); return;
    case 27: set_flag(cell, VT_CELL_INVERTED, false); return;
    case 28: set_flag(cell, VT_CELL_HIDDEN, false); return;
    case 29: set_decoration(cell, VT_CELL_STRIKETHROUGH, false); return;
    case 39: cell.set_fg_index(VT_DEFAULT_FG_INDEX); return;
    case 49: cell.set_bg_index(VT_DEFAULT_BG_INDEX); return;
    case 53: set_decoration(cell, VT_CELL_OVERLINE, true); return;
    case 55: set_decoration(cell, VT_CELL_OVERLINE, false); return;
    case 59: set_flag(cell, VT_CELL_LINE_COLOR_SET, false); return;
    default: break;
    }
    if (code >= 30 && code <= 37) {
        cell.set_fg_index(static_cast<std::uint16_t>(code - 30));
    } else if (code >= 40 && code <= 47) {
        cell.set_bg_index(static_cast<std::int16_t>(code - 40));
    } else if (code >= 90 && code <= 97) {
        cell.set_fg_index(static_cast<std::uint16_t>(code - 82));
    } else if (code >= 100 && code <= 107) {
        cell.set_bg_index(static_cast<std::int16_t>(code - 92));
    } else {
        static constexpr const char* FORMAT = "Unknown SGR code: %d\n";
        if (warnings_.allow(FORMAT)) warn(FORMAT, static_cast<int>(code));
    }
}

}  // namespace zelto
