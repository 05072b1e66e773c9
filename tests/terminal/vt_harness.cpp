#include "terminal/vt_harness.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>

namespace zelto::test {

std::string take_replies(Vt& vt) {
    const std::string out(vt.pending_output(SIZE_MAX));
    vt.consume_output(out.size());
    return out;
}

std::size_t screen_row(const Vt& vt) { return vt.cursor_row() - vt.screen_top(); }

std::string utf8(char32_t c) {
    std::string s;
    if (c < 0x80) {
        s += static_cast<char>(c);
    } else if (c < 0x800) {
        s += static_cast<char>(0xC0 | (c >> 6));
        s += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        s += static_cast<char>(0xE0 | (c >> 12));
        s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        s += static_cast<char>(0xF0 | (c >> 18));
        s += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (c & 0x3F));
    }
    return s;
}

std::string read_fixture(const std::string& name) {
    std::ifstream in(std::string(ZELTO_SOURCE_DIR) + "/tests/terminal/fixtures/" + name, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

VtHarness::VtHarness(std::uint32_t cols, std::uint32_t rows) : vt(cols, rows, callbacks) {
    check_invariants();
}

void VtHarness::draw() {
    for (std::size_t i = 0; i < vt.rows(); ++i) {
        VtLine* line = vt.visible_line(i);
        if (line == nullptr) continue;
        if (line->proxy.empty()) line->proxy.slots[0] = callbacks.next_proxy++;
        line->damage.type = VT_LINE_DAMAGE_NONE;
    }
}

void VtHarness::feed(std::string_view bytes, std::size_t chunk) {
    if (chunk == 0) chunk = std::max<std::size_t>(bytes.size(), 1);
    for (std::size_t at = 0; at < bytes.size(); at += chunk) {
        vt.interpret(bytes.substr(at, chunk));
        check_invariants();
        draw();
    }
}

void VtHarness::feed_split(std::string_view bytes, const std::vector<std::size_t>& offsets) {
    std::size_t at = 0;
    for (std::size_t off : offsets) {
        off = std::min(off, bytes.size());
        if (off < at) continue;
        vt.interpret(bytes.substr(at, off - at));
        check_invariants();
        draw();
        at = off;
    }
    vt.interpret(bytes.substr(at));
    check_invariants();
    draw();
}

std::string VtHarness::line_text(std::size_t index) const {
    const auto& lines = vt.lines();
    if (index >= lines.size()) return {};
    std::string text;
    for (const VtCell& cell : lines[index].cells) {
        if (cell.code == VT_WIDE_CHAR_TAIL) continue;
        text += cell.code == 0 ? std::string(" ") : utf8(cell.code);
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

std::string VtHarness::screen() const {
    std::string out;
    const std::size_t top = vt.screen_top();
    for (std::size_t i = 0; i < vt.rows(); ++i) {
        if (i != 0) out += '\n';
        out += line_text(top + i);
    }
    return out;
}

std::string VtHarness::state_fingerprint() const {
    std::ostringstream out;
    const auto dump = [&](const std::vector<VtLine>& lines) {
        out << "lines " << lines.size() << '\n';
        for (const VtLine& line : lines) {
            out << line.cells.size() << ' ' << line.reflowable << line.rejoinable << line.was_wrapped << ' ';
            out.write(reinterpret_cast<const char*>(line.cells.data()),
                      static_cast<std::streamsize>(line.cells.size() * sizeof(VtCell)));
            out << '\n';
        }
    };
    dump(vt.lines());
    dump(vt.parked_main_lines());
    out << "cursor " << vt.cursor_row() << ',' << vt.cursor_col() << " wrap " << vt.wrap_pending()
        << " hidden " << vt.cursor_hidden() << " region " << vt.scroll_region_top() << '-'
        << vt.scroll_region_bottom() << " parser " << int(vt.parser_state()) << vt.parser_in_utf8_sequence()
        << " sync " << vt.in_synchronized_update() << " title " << vt.title() << '\n';
    for (const auto& t : callbacks.titles) out << "set_title " << t << '\n';
    out << "output " << vt.pending_output(SIZE_MAX) << '\n';
    out.write(reinterpret_cast<const char*>(&vt.current_attributes()), sizeof(VtCell));
    return out.str();
}

std::vector<std::uint32_t> VtHarness::live_proxies() const {
    std::vector<std::uint32_t> ids;
    for (const auto* lines : {&vt.lines(), &vt.parked_main_lines()}) {
        for (const VtLine& line : *lines) {
            if (line.proxy.slots[0] != 0) ids.push_back(line.proxy.slots[0]);
        }
    }
    auto& self = const_cast<VtHarness&>(*this);
    for (std::size_t i = 0; vt.in_synchronized_update() && i < vt.rows(); ++i) {
        if (VtLine* line = self.vt.visible_line(i); line && line->proxy.slots[0] != 0) {
            ids.push_back(line->proxy.slots[0]);
        }
    }
    return ids;
}

void VtHarness::check_invariants() const {
    const auto& lines = vt.lines();
    ASSERT_GE(lines.size(), vt.rows());
    ASSERT_LT(vt.cursor_row(), lines.size());
    ASSERT_GE(vt.cursor_row(), vt.screen_top());
    ASSERT_LT(vt.cursor_col(), vt.cols());
    if (vt.alternate_screen_active()) {
        ASSERT_EQ(lines.size(), vt.rows());
    }
    if (vt.scrolled_back()) {
        ASSERT_LE(vt.view_top(), vt.screen_top());
    }
    for (const auto& [id, count] : callbacks.released) ASSERT_EQ(count, 1) << "proxy " << id;
    std::set<std::uint32_t> seen;
    for (std::uint32_t id : live_proxies()) {
        ASSERT_TRUE(seen.insert(id).second) << "proxy " << id << " held twice";
        ASSERT_EQ(callbacks.released.count(id), 0u) << "live proxy " << id << " was released";
    }
    // No proxy is lost: each one handed out is held by a line or was released.
    ASSERT_EQ(seen.size() + callbacks.released.size(), callbacks.next_proxy - 1);
}

}  // namespace zelto::test
