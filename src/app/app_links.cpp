// Links under the pointer: the hover underline and hand pointer, and opening them with the URI
// handler.
#include "app/app_links.hpp"

#include <cstdio>

#include "app/app.hpp"
#include "app/spawn_process.hpp"
#include "config/settings.hpp"
#include "terminal/vt_links.hpp"
#include "util/diagnostics.hpp"

namespace zelto {

namespace {

bool has_control_character(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x20 || byte == 0x7f) return true;
        // U+0080 .. U+009F, the C1 controls, in UTF-8.
        if (byte == 0xc2 && i + 1 < text.size() &&
            static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
            static_cast<unsigned char>(text[i + 1]) <= 0x9f) {
            return true;
        }
    }
    return false;
}

bool starts_like_link(std::string_view uri) {
    const std::size_t colon = uri.find(':');
    if (colon != std::string_view::npos && is_link_scheme(uri.substr(0, colon))) return true;
    return uri.size() > 4 && (uri[0] | 0x20) == 'w' && (uri[1] | 0x20) == 'w' &&
           (uri[2] | 0x20) == 'w' && uri[3] == '.';
}

// The text a cell links to, or null.
const std::string* cell_link(const VtLine& line, std::size_t col) {
    if (col >= line.cells.size() || !line.links) return nullptr;
    const std::uint16_t link = line.cells[col].link;
    if (link == 0 || link > line.links->size()) return nullptr;
    return &(*line.links)[link - 1];
}

}  // namespace

const char* uri_refusal(std::string_view uri) {
    if (has_control_character(uri)) return "it contains control characters";
    if (!starts_like_link(uri)) return "it does not start with a known scheme";
    return nullptr;
}

std::string printable_uri(std::string_view uri, std::size_t limit) {
    std::string text;
    for (char c : uri.substr(0, limit)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7f && byte != '\\') {
            text += c;
        } else {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            text += escaped;
        }
    }
    if (uri.size() > limit) text += "...";
    return text;
}

// A link runs on within its line through the cells with the same index, and over a line end when
// the next visible line starts with the same text (a link wrapped with its line).
std::optional<App::LinkRange> App::link_range_at(VtTextPoint cell) const {
    const std::vector<VtLine>& lines = vt_->lines();
    const std::size_t top = vt_->visible_top();
    const std::size_t bottom = std::min(top + vt_->rows(), lines.size());
    if (cell.line < top || cell.line >= bottom) return std::nullopt;
    const std::string* uri = cell_link(lines[cell.line], cell.col);
    if (!uri) return std::nullopt;

    VtTextPoint first = cell;
    for (;;) {
        const VtLine& line = lines[first.line];
        const std::uint16_t link = line.cells[first.col].link;
        while (first.col > 0 && line.cells[first.col - 1u].link == link) --first.col;
        if (first.col != 0 || first.line == top) break;
        const VtLine& above = lines[first.line - 1];
        if (above.cells.empty()) break;
        const std::string* before = cell_link(above, above.cells.size() - 1);
        if (!before || *before != *uri) break;
        --first.line;
        first.col = static_cast<std::uint16_t>(above.cells.size() - 1);
    }
    VtTextPoint last = cell;
    for (;;) {
        const VtLine& line = lines[last.line];
        const std::uint16_t link = line.cells[last.col].link;
        while (last.col + 1u < line.cells.size() && line.cells[last.col + 1u].link == link) {
            ++last.col;
        }
        if (last.col + 1u < line.cells.size() || last.line + 1 >= bottom) break;
        const std::string* after = cell_link(lines[last.line + 1], 0);
        if (!after || *after != *uri) break;
        ++last.line;
        last.col = 0;
    }
    return LinkRange{first, last, *uri};
}

void App::hover_update(GridPoint point) {
    const std::optional<LinkRange> range = link_range_at(cell_under(point));
    if (range) {
        const bool moved = !ui_.link_hovered || ui_.hovered_link_first_line != range->first.line ||
                           ui_.hovered_link_first_column != range->first.col ||
                           ui_.hovered_link_last_line != range->last.line ||
                           ui_.hovered_link_last_column != range->last.col;
        if (moved) {
            ui_.link_hovered = true;
            ui_.hovered_link_first_line = range->first.line;
            ui_.hovered_link_first_column = range->first.col;
            ui_.hovered_link_last_line = range->last.line;
            ui_.hovered_link_last_column = range->last.col;
            request_repaint();
        }
    } else if (ui_.link_hovered) {
        ui_.link_hovered = false;
        request_repaint();
    }
    refresh_pointer_shape();
}

// The pointer rests while the screen changes under it: a link may appear or go away there.
void App::refresh_link_hover() {
    if (!window_ || !gfx_ || !vt_ || drag_active_ || extend_mode_ != EXTEND_NONE) return;
    hover_update(to_grid(window_->pointer_x, window_->pointer_y));
}

void App::open_link_at(GridPoint point) {
    const std::optional<LinkRange> range = link_range_at(cell_under(point));
    if (range) open_uri(range->uri);
}

void App::open_uri(const std::string& uri) {
    if (const char* reason = uri_refusal(uri)) {
        warn("not opening link '%s': %s\n", printable_uri(uri).c_str(), reason);
        return;
    }
    const std::string& handler = settings().uri_handler;
    spawn_process({nullptr, handler, {handler, uri}, true, false});
}

}  // namespace zelto
