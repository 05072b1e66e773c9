// The synchronized update: the renderer keeps drawing a frozen copy of the visible lines while
// the program redraws, and the end compares the copy with the result to damage only what changed.
#include <algorithm>

#include "terminal/vt.hpp"

namespace zelto {

void Vt::begin_synchronized_update() {
    if (in_synchronized_update()) return;
    if (snapshot_.capacity() < rows_) snapshot_.reserve(rows_);
    const std::size_t top = visible_top();
    for (std::size_t i = 0; i < rows_ && top + i < lines_.size(); ++i) {
        VtLine& live = lines_[top + i];
        VtSnapshotEntry entry{live.copy_content(), top + i, true};
        entry.copy.proxy = live.proxy;
        live.proxy = VtLineProxy{};
        live.damage.type = VT_LINE_DAMAGE_PROXIES_MOVED_TO_CLONE;
        live.damage.front = static_cast<std::uint16_t>(i);
        live.damage.end = 0;
        snapshot_.push_back(std::move(entry));
    }
    snapshot_cols_ = cols_;
    snapshot_rows_ = rows_;
    snapshot_began_ = mono_now();
}

namespace {

struct CellDifference {
    std::size_t first = SIZE_MAX;
    std::size_t last = 0;
    bool any() const { return first != SIZE_MAX; }
};

CellDifference differing_cells(const VtCells& a, const VtCells& b) {
    CellDifference diff;
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
        if (!(a[i] == b[i])) {
            if (!diff.any()) diff.first = i;
            diff.last = i;
        }
    }
    const VtCells& longer = a.size() > b.size() ? a : b;
    for (std::size_t i = common; i < longer.size(); ++i) {
        if (!is_unchanged_filler_cell(longer[i])) {
            if (!diff.any()) diff.first = i;
            diff.last = i;
        }
    }
    return diff;
}

}  // namespace

void Vt::compare_with_snapshot(VtSnapshotEntry& entry) {
    VtLine& live = lines_[entry.live_index];
    const VtLineDamage before = entry.copy.damage;
    const CellDifference diff = differing_cells(entry.copy.cells, live.cells);
    const auto range = [](std::size_t first, std::size_t last) {
        VtLineDamage d;
        d.type = VT_LINE_DAMAGE_RANGE;
        d.front = static_cast<std::uint16_t>(std::min<std::size_t>(first, 0xFFFF));
        d.end = static_cast<std::uint16_t>(std::min<std::size_t>(last, 0xFFFF));
        return d;
    };
    VtLineDamage after;  // FULL
    switch (before.type) {
    case VT_LINE_DAMAGE_FULL: break;
    case VT_LINE_DAMAGE_RANGE:
        if (diff.any()) {
            after = range(std::min<std::size_t>(before.front, diff.first),
                          std::max<std::size_t>(before.end, diff.last));
        }
        break;
    case VT_LINE_DAMAGE_NONE:
        after = diff.any() ? range(diff.first, diff.last) : VtLineDamage{0, 0, 0, VT_LINE_DAMAGE_NONE};
        break;
    default:
        if (diff.any()) after = range(diff.first, diff.last);
        break;
    }
    live.damage = after;
    destroy_proxy(live.proxy);
    live.proxy = entry.copy.proxy;
    entry.copy.proxy = VtLineProxy{};
}

void Vt::end_synchronized_update() {
    if (!in_synchronized_update()) return;
    for (VtSnapshotEntry& entry : snapshot_) {
        if (entry.in_use && entry.live_index < lines_.size()) compare_with_snapshot(entry);
        release_line(entry.copy);
    }
    snapshot_.clear();
    snapshot_cols_ = snapshot_rows_ = 0;
    repaint_required_ = true;
}

std::optional<MonoTime> Vt::synchronized_update_deadline() const {
    if (!in_synchronized_update()) return std::nullopt;
    // The first instant past the time-out.
    return mono_add_ms(snapshot_began_, 101);
}

void Vt::end_expired_synchronized_update(MonoTime now) {
    if (!in_synchronized_update() || mono_diff_ns(now, snapshot_began_) <= SYNCHRONIZED_UPDATE_TIMEOUT_NS) {
        return;
    }
    end_synchronized_update();
    callbacks_.request_repaint();
}

}  // namespace zelto
