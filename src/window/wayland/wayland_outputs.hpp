#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace zelto {

// The window's knowledge of one output, kept from the output's first done event on.
struct OutputEntry {
    void* id = nullptr;    // the wl_output proxy
    bool entered = false;  // the window's surface is on it
    std::uint32_t subpixel = 0;
    double refresh_ms = 16.0;
    std::uint16_t dpi = 0;  // 0: unknown
    std::int32_t pixel_width = 0;
    double inches_width = 0.0;
    std::uint32_t index = 0;  // in the order the outputs first described themselves
    std::string name;         // connector name when offered, else the model text
};

// Follows what the outputs say about themselves and which of them the window's surface is on,
// and decides the output the window reports as its own.
class OutputTracker {
  public:
    using Id = void*;

    // The description of an output arrives in pieces, applied together at its done event.
    void geometry(Id id, std::int32_t mm_width, std::int32_t subpixel, const std::string& model);
    void current_mode(Id id, std::int32_t pixel_width, std::int32_t refresh_mhz);
    void connector_name(Id id, const std::string& name);
    // A done that follows no geometry or mode event withdraws the output's entry.
    void done(Id id);
    void forget(Id id);

    // The surface entered or left an output: the entry that became the window's output, if the
    // change gave it a new one.
    const OutputEntry* enter(Id id);
    const OutputEntry* leave(Id id);
    // The surface is on no output at all: the window counts as minimized.
    bool on_no_output() const { return entered_.empty(); }

    std::size_t size() const { return entries_.size(); }
    const OutputEntry* current() const { return find(current_); }
    // The output fullscreen requests name: the one that described itself last.
    Id fullscreen_output() const { return fullscreen_; }

  private:
    struct Pending {
        bool changed = false;
        std::int32_t mm_width = 0;
        std::int32_t subpixel = 0;
        std::int32_t pixel_width = 0;
        std::int32_t refresh_mhz = 0;
        std::string model;
        std::string connector;
    };
    const OutputEntry* find(Id id) const;
    const OutputEntry* make_current(Id id);

    std::unordered_map<Id, Pending> pending_;
    std::unordered_map<Id, OutputEntry> entries_{4};
    std::vector<Id> entered_;
    Id current_ = nullptr;
    Id fullscreen_ = nullptr;
    std::uint32_t next_index_ = 0;
};

}  // namespace zelto
