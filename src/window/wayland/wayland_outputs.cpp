#include "window/wayland/wayland_outputs.hpp"

#include <algorithm>

#include "window/wayland/wayland_logic.hpp"

namespace zelto {

void OutputTracker::geometry(Id id, std::int32_t mm_width, std::int32_t subpixel,
                             const std::string& model) {
    Pending& pending = pending_[id];
    pending.changed = true;
    pending.mm_width = mm_width;
    pending.subpixel = subpixel;
    pending.model = model;
}

void OutputTracker::current_mode(Id id, std::int32_t pixel_width, std::int32_t refresh_mhz) {
    Pending& pending = pending_[id];
    pending.changed = true;
    pending.pixel_width = pixel_width;
    pending.refresh_mhz = refresh_mhz;
}

void OutputTracker::connector_name(Id id, const std::string& name) {
    pending_[id].connector = name;
}

void OutputTracker::done(Id id) {
    Pending& pending = pending_[id];
    if (!pending.changed) {
        entries_.erase(id);
        if (current_ == id) {
            current_ = nullptr;
        }
        if (fullscreen_ == id) {
            fullscreen_ = nullptr;
        }
        return;
    }
    pending.changed = false;
    auto [it, inserted] = entries_.try_emplace(id);
    OutputEntry& entry = it->second;
    entry.id = id;
    if (inserted) {
        entry.index = next_index_++;
        entry.entered = std::find(entered_.begin(), entered_.end(), id) != entered_.end();
    }
    entry.subpixel = static_cast<std::uint32_t>(std::clamp(pending.subpixel, 0, 5));
    entry.refresh_ms = refresh_interval_ms(pending.refresh_mhz);
    entry.dpi = output_dpi(pending.pixel_width, pending.mm_width);
    entry.pixel_width = pending.pixel_width;
    entry.inches_width = pending.mm_width * 0.03937008;
    entry.name = pending.connector.empty() ? pending.model : pending.connector;
    fullscreen_ = id;
}

void OutputTracker::forget(Id id) {
    pending_.erase(id);
    entries_.erase(id);
    std::erase(entered_, id);
    if (current_ == id) {
        current_ = nullptr;
    }
    if (fullscreen_ == id) {
        fullscreen_ = nullptr;
    }
}

const OutputEntry* OutputTracker::find(Id id) const {
    auto it = entries_.find(id);
    return it == entries_.end() ? nullptr : &it->second;
}

const OutputEntry* OutputTracker::make_current(Id id) {
    if (!find(id) || current_ == id) {
        return nullptr;
    }
    current_ = id;
    return find(id);
}

const OutputEntry* OutputTracker::enter(Id id) {
    const bool first = entered_.empty();
    if (std::find(entered_.begin(), entered_.end(), id) == entered_.end()) {
        entered_.push_back(id);
    }
    auto it = entries_.find(id);
    if (it == entries_.end()) {
        return nullptr;  // an output that withdrew its description: nothing to report for it
    }
    it->second.entered = true;
    return first ? make_current(id) : nullptr;
}

const OutputEntry* OutputTracker::leave(Id id) {
    std::erase(entered_, id);
    if (auto it = entries_.find(id); it != entries_.end()) {
        it->second.entered = false;
    }
    return entered_.size() == 1 ? make_current(entered_.front()) : nullptr;
}

}  // namespace zelto
