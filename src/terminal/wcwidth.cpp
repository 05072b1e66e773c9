#include "terminal/wcwidth.hpp"

#include <utf8proc.h>

#include <algorithm>
#include <vector>

namespace zelto {

namespace {

struct CodeRange {
    char32_t first;
    char32_t last;
};

// The two range tables, sorted by start and built once from the character database that
// utf8proc carries: non-spacing and enclosing marks and format characters are zero width
// (the soft hyphen keeps its column, as every terminal draws it), wide and fullwidth
// characters take two columns, and so do the still unassigned rest of planes 2 and 3.
struct WidthTables {
    std::vector<CodeRange> zero;
    std::vector<CodeRange> wide;

    WidthTables() {
        for (char32_t ch = 0x300; ch <= 0x10FFFF; ++ch) {
            const auto code = static_cast<utf8proc_int32_t>(ch);
            const utf8proc_category_t category = utf8proc_category(code);
            if (category == UTF8PROC_CATEGORY_MN || category == UTF8PROC_CATEGORY_ME ||
                category == UTF8PROC_CATEGORY_CF) {
                add(zero, ch);
            } else if (utf8proc_charwidth(code) == 2 || (ch >= 0x20000 && ch <= 0x3FFFD && (ch & 0xFFFE) != 0xFFFE)) {
                add(wide, ch);
            }
        }
    }

    static void add(std::vector<CodeRange>& table, char32_t ch) {
        if (!table.empty() && table.back().last + 1 == ch) {
            table.back().last = ch;
        } else {
            table.push_back({ch, ch});
        }
    }
};

const WidthTables& tables() {
    static const WidthTables built;
    return built;
}

bool in_table(const std::vector<CodeRange>& table, char32_t ch) {
    if (table.empty() || ch < table.front().first) return false;
    const auto after = std::upper_bound(table.begin(), table.end(), ch,
                                        [](char32_t c, const CodeRange& r) { return c < r.first; });
    return ch <= std::prev(after)->last;
}

}  // namespace

int wcwidth(char32_t ch) {
    if (ch == 0 || ch == 0x34F || (ch >= 0x200B && ch <= 0x200F) || (ch >= 0x2028 && ch <= 0x202E) ||
        (ch >= 0x2060 && ch <= 0x2063)) {
        return 0;
    }
    if (ch < 0x20 || (ch >= 0x7F && ch <= 0x9F)) return -1;
    const WidthTables& t = tables();
    if (in_table(t.zero, ch)) return 0;
    if (in_table(t.wide, ch)) return 2;
    return 1;
}

}  // namespace zelto
