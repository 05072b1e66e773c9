#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "terminal/vt_line.hpp"

namespace zelto {

enum VtSelectionMode : std::uint8_t {
    VT_SELECTION_NONE = 0,
    VT_SELECTION_NORMAL = 1,
    VT_SELECTION_RECTANGLE = 2,
};

struct VtTextPoint {
    std::size_t line = 0;  // absolute index into the buffer's lines
    std::uint16_t col = 0;

    friend bool operator==(const VtTextPoint&, const VtTextPoint&) = default;
};

// UTF-8 text of the cells [first, end) of a line followed by `tail`; an end of 0 or past the
// line's cells means all of them. Right halves of wide characters yield nothing, unwritten
// cells a blank; trailing blanks are kept.
std::string line_text(const VtLine& line, std::size_t first, std::size_t end,
                      std::string_view tail = {});

// The selection over the lines of the active buffer. A press only records a pending anchor; the
// selection exists once the pointer moves with the button held.
class VtSelection {
public:
    VtSelectionMode mode() const { return mode_; }
    bool active() const { return mode_ != VT_SELECTION_NONE; }
    VtTextPoint start() const { return start_; }
    VtTextPoint end() const { return end_; }

    void begin(VtSelectionMode mode, VtTextPoint anchor);
    void activate();
    void set_end(std::vector<VtLine>& lines, VtTextPoint point);
    void set_start(std::vector<VtLine>& lines, VtTextPoint point);
    void select_word(std::vector<VtLine>& lines, VtTextPoint point);
    void select_line(std::vector<VtLine>& lines, std::size_t line, std::uint16_t cols);
    // True when there was a selection to clear.
    bool clear(std::vector<VtLine>& lines);

    bool contains(std::uint16_t col, std::size_t line) const;
    std::string text(const std::vector<VtLine>& lines) const;

    // Lines were inserted (delta > 0) or removed (delta < 0) at `at`: points follow their lines;
    // a point on a removed line moves to the first line after the removal, and a selection
    // whose every line went away ends.
    void shift(std::size_t at, std::ptrdiff_t delta);
    // Every stored point moves where `map` sends it, for a rebuild of the whole line list.
    void remap(const std::function<VtTextPoint(VtTextPoint)>& map);

private:
    void damage_between(std::vector<VtLine>& lines, std::size_t a, std::size_t b) const;
    void move_point(std::vector<VtLine>& lines, VtTextPoint& point, VtTextPoint to);

    VtSelectionMode mode_ = VT_SELECTION_NONE;
    VtSelectionMode pending_mode_ = VT_SELECTION_NONE;
    VtTextPoint pending_anchor_;
    VtTextPoint start_;
    VtTextPoint end_;
};

}  // namespace zelto
