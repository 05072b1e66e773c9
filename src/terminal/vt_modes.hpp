#pragma once

#include <cstdint>
#include <span>

namespace zelto {

class Vt;

enum VtModeKind : std::uint8_t {
    VT_MODE_FLAG,             // one flag of the terminal; DECRQM reports it
    VT_MODE_ACTION,           // does something; DECRQM reports it when it has a state
    VT_MODE_NOT_IMPLEMENTED,  // known by name: a warning, and DECRQM answers 0
    VT_MODE_IGNORED,          // accepted silently; DECRQM answers 0
};

// One mode of the tables that SM/RM, DECSET/DECRST and DECRQM read.
struct VtMode {
    std::uint32_t number = 0;
    VtModeKind kind = VT_MODE_IGNORED;
    // Not implemented: the name its warning gives.
    const char* name = nullptr;
    // Flag: where it lives, and whether it holds the opposite of the mode.
    bool& (*flag)(Vt&) = nullptr;
    bool inverted = false;
    // Flag: runs after the flag changed, when the change does more. Action: the whole effect.
    void (*apply)(Vt&, bool on) = nullptr;
    // Action: whether the mode is set; null when it has no state to report.
    bool (*state)(const Vt&) = nullptr;
};

// The DEC private modes (CSI ? Pm h / l) and the ANSI modes (CSI Pm h / l), by number.
std::span<const VtMode> vt_dec_private_modes();
std::span<const VtMode> vt_ansi_modes();

}  // namespace zelto
