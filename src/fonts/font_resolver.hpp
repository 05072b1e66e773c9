#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "config/settings.hpp"

typedef struct _FcConfig FcConfig;

namespace zelto {

// What fontconfig picked for one query.
struct FontMatch {
    std::string file;
    // The matched font belongs to the family asked for (or the family text named the file
    // itself), as opposed to fontconfig's fallback for an unknown family.
    bool exact_family = false;
};

// The fontconfig configuration, loaded with its fonts, for the time of one resolution.
class FontConfigSession {
  public:
    FontConfigSession();  // "Failed to load fontconfig configuration" is fatal
    ~FontConfigSession();
    FontConfigSession(const FontConfigSession&) = delete;
    FontConfigSession& operator=(const FontConfigSession&) = delete;

    // The query "family[-size][:style]"; size 0 and an empty style are left out.
    std::optional<FontMatch> query(std::string_view family, unsigned size, std::string_view style,
                                   bool debug) const;

  private:
    FcConfig* config_;
};

// The query text fontconfig parses: "Monospace-9:Bold"; separators inside the family are
// escaped.
std::string font_query_text(std::string_view family, unsigned size, std::string_view style);

// Turns the family names of `font`, `font-symbol` and `font-color` into files, sets the has-file
// flags and, under `debug-font`, traces every step. No primary font with a regular file is fatal.
void resolve_fonts(Settings& settings);

}  // namespace zelto
