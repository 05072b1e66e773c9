#include "app/html_dump.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>

#include "config/settings.hpp"
#include "terminal/vt.hpp"
#include "util/diagnostics.hpp"
#include "util/format.hpp"
#include "util/utf8.hpp"

namespace zelto {

namespace {

enum UnderlineKind : std::uint8_t { UNDERLINE_NONE, UNDERLINE_SOLID, UNDERLINE_DOUBLE, UNDERLINE_DASHED };

struct CellStyle {
    ColorRGB bg;
    ColorRGB fg;
    ColorRGB decoration;
    std::uint8_t font_style = VT_FONT_STYLE_NORMAL;
    UnderlineKind underline = UNDERLINE_NONE;
    bool strikethrough = false;
    bool overline = false;
    bool blink = false;

    bool operator==(const CellStyle&) const = default;
};

bool same(ColorRGB a, ColorRGB b) { return a.r == b.r && a.g == b.g && a.b == b.b; }

ColorRGB rgb(ColorRGBA c) { return {c.r, c.g, c.b}; }

std::string rgb_text(ColorRGB c) { return format_string("rgb(%d, %d, %d)", c.r, c.g, c.b); }

// The decoration colour of a cell resolves like a foreground made of its line colour.
ColorRGB line_color(const Vt& vt, const VtCell& cell) {
    VtCell as_fg;
    std::memcpy(as_fg.fg, cell.line_color, sizeof as_fg.fg);
    if (cell.has(VT_CELL_LINE_COLOR_IS_PALETTE_INDEX)) as_fg.flags |= VT_CELL_FG_IS_PALETTE_INDEX;
    return vt.resolve_fg(as_fg);
}

UnderlineKind underline_of(const VtCell& cell) {
    if (cell.decorations & VT_CELL_CURLY_UNDERLINE) return UNDERLINE_DASHED;
    if (cell.decorations & VT_CELL_DOUBLE_UNDERLINE) return UNDERLINE_DOUBLE;
    if (cell.decorations & VT_CELL_UNDERLINED) return UNDERLINE_SOLID;
    return UNDERLINE_NONE;
}

CellStyle default_style(const Vt& vt) {
    CellStyle style;
    style.bg = rgb(vt.default_bg());
    style.fg = vt.default_fg();
    style.decoration = style.fg;
    return style;
}

CellStyle style_of(const Vt& vt, const VtCell& cell) {
    CellStyle style;
    style.bg = rgb(vt.effective_bg(cell));
    style.fg = vt.effective_fg(cell);
    style.decoration = cell.has(VT_CELL_LINE_COLOR_SET) ? line_color(vt, cell) : style.fg;
    style.font_style = cell.font_style & 3;
    style.underline = underline_of(cell);
    style.strikethrough = cell.decorations & VT_CELL_STRIKETHROUGH;
    style.overline = cell.decorations & VT_CELL_OVERLINE;
    style.blink = cell.has(VT_CELL_BLINKING);
    return style;
}

std::string opening_span(const Vt& vt, const CellStyle& style) {
    const bool bold = style.font_style == VT_FONT_STYLE_BOLD ||
                      style.font_style == VT_FONT_STYLE_BOLD_ITALIC;
    const bool italic = style.font_style == VT_FONT_STYLE_ITALIC ||
                        style.font_style == VT_FONT_STYLE_BOLD_ITALIC;
    const bool own_bg = !same(style.bg, rgb(vt.default_bg()));
    const bool own_fg = !same(style.fg, vt.default_fg());
    const bool decorated = style.underline != UNDERLINE_NONE || style.strikethrough || style.overline;

    std::string span = "<span";
    if (style.blink) span += " class=\"blink\"";
    if (bold || italic || own_bg || own_fg || decorated) {
        span += " style=\"";
        if (bold) span += " font-weight: bold;";
        if (italic) span += " font-style: italic;";
        if (own_bg) span += " background: " + rgb_text(style.bg) + ";";
        if (own_fg) span += " color: " + rgb_text(style.fg) + ";";
        if (decorated) {
            static const char* const underline_names[] = {"", "underline solid", "underline double",
                                                          "underline dashed"};
            span += " text-decoration: ";
            span += underline_names[style.underline];
            if (style.strikethrough) span += " line-through";
            if (style.overline) span += " overline";
            span += " " + rgb_text(style.decoration) + ";";
        }
        span += "\"";
    }
    return span + ">";
}

void append_escaped(std::string& out, char32_t code) {
    switch (code) {
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '&': out += "&amp;"; break;
        default: append_utf8(out, code);
    }
}

std::string escaped(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '&': out += "&amp;"; break;
            default: out += c;
        }
    }
    return out;
}

bool shows_blank(const VtCell& cell) {
    // The right half of a wide character is skipped with it; one met on its own (its left half
    // was overwritten) is a blank, never the marker byte.
    return cell.has(VT_CELL_HIDDEN) || cell.code == 0 || cell.code == U' ' ||
           cell.code == VT_WIDE_CHAR_TAIL || cell.code < 0x20;
}

void append_line(std::string& body, const Vt& vt, const VtLine& line, bool odd) {
    body += odd ? "<span class=\"od\">" : "<span class=\"ev\">";
    CellStyle previous = default_style(vt);
    const std::size_t end = std::min<std::size_t>(line.cells.size(), vt.cols());
    for (std::size_t col = 0; col < end; ++col) {
        const VtCell& cell = line.cells[col];
        const CellStyle style = style_of(vt, cell);
        if (style != previous) {
            body += "</span>";
            body += opening_span(vt, style);
            previous = style;
        }
        if (shows_blank(cell)) {
            body += ' ';
        } else {
            append_escaped(body, cell.code);
            for (char32_t c : cell.combine) {
                if (c) append_escaped(body, c);
            }
        }
        if (col + 1 < end && line.cells[col + 1].code == VT_WIDE_CHAR_TAIL) ++col;
    }
    body += "</span>";
}

std::string first_font_name() {
    const Settings& s = settings();
    return s.font.empty() ? "Monospace" : s.font.front().family;
}

}  // namespace

std::string html_document(Vt& vt) {
    std::string body;
    for (std::size_t i = 0; i < vt.rows(); ++i) {
        const VtLine* line = vt.visible_line(i);
        if (!line) continue;
        if (i > 0) body += "\n";
        append_line(body, vt, *line, i % 2 == 0);
    }
    const ColorRGBA bg = vt.default_bg();
    const ColorRGB fg = vt.default_fg();
    std::string doc =
        "<!DOCTYPE html>\n"
        "<html lang=\"en\">\n"
        "\n"
        "<head>\n"
        "  <meta charset=\"UTF-8\">\n"
        "  <meta name=\"viewport\" content=\"width=device-width,initial-scale=1.0\">\n"
        "  <meta name=\"generator\" content=\"Zelto v0.0.0\">\n";
    doc += "  <title>" + escaped(vt.title()) + "</title>\n";
    doc +=
        "</head>\n"
        "\n"
        "<style>\n"
        "  * {\n"
        "    margin: 0;\n"
        "    padding: 0;\n"
        "  }\n"
        "\n"
        "  .blink {\n"
        "    animation: blink-animation 1.0s linear infinite;\n"
        "  }\n"
        "\n"
        "  @keyframes blink-animation {\n"
        "    0%   { opacity: 0.6; }\n"
        "    10%  { opacity: 0.1; }\n"
        "    35%  { opacity: 0.1; }\n"
        "    65%  { opacity: 1.0; }\n"
        "    90%  { opacity: 1.0; }\n"
        "    100% { opacity: 0.6; }\n"
        "  }\n"
        "\n"
        "  #vt {\n"
        "    float: left;\n";
    doc += "    font-family: " + escaped(first_font_name()) + ";\n";
    doc += format_string("    font-size: %u;\n", static_cast<unsigned>(settings().font_size));
    doc += "    underline-position: from-font;\n";
    doc += format_string("    background-color: rgb(%d, %d, %d);\n", bg.r, bg.g, bg.b);
    doc += format_string("    color: rgb(%d, %d, %d);\n", fg.r, fg.g, fg.b);
    doc +=
        "  }\n"
        "</style>\n"
        "\n"
        "<body>\n"
        "  <div id=\"vt\">\n";
    doc += "    <pre>" + body + "</pre>\n";
    doc +=
        "  </div>\n"
        "</body>\n"
        "\n"
        "</html>\n";
    return doc;
}

namespace {

std::optional<std::string> dump_path() {
    const std::time_t now = std::time(nullptr);
    if (now == static_cast<std::time_t>(-1)) return std::nullopt;
    std::tm local{};
    if (!localtime_r(&now, &local)) return std::nullopt;
    char stamp[128];
    if (std::strftime(stamp, sizeof stamp, "%Y.%m.%d.%H.%M.%S", &local) == 0) {
        errno = ERANGE;
        return std::nullopt;
    }
    char* cwd = getcwd(nullptr, 0);
    if (!cwd) return std::nullopt;
    std::string path = format_string("%s/Zelto.%s.html", cwd, stamp);
    std::free(cwd);
    return path;
}

bool write_all(std::FILE* file, const std::string& text) {
    return std::fwrite(text.data(), 1, text.size(), file) == text.size() && std::fflush(file) == 0;
}

}  // namespace

std::string html_dump(Vt& vt) {
    const std::optional<std::string> path = dump_path();
    std::FILE* file = path ? std::fopen(path->c_str(), "w+x") : nullptr;
    if (!file) {
        warn("Failed to create screen dump: %s\n", std::strerror(errno));
        return {};
    }
    const bool written = write_all(file, html_document(vt));
    const int write_errno = errno;
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        warn("Failed to create screen dump: %s\n", std::strerror(written ? errno : write_errno));
        std::remove(path->c_str());
        return {};
    }
    return *path;
}

}  // namespace zelto
