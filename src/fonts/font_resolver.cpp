#include "fonts/font_resolver.hpp"

#include <fontconfig/fontconfig.h>
#include <strings.h>

#include <array>
#include <cstdio>

#include "util/diagnostics.hpp"

namespace zelto {

namespace {

bool same_text_ignoring_case(std::string_view a, std::string_view b) {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

bool match_has_family(FcPattern* match, std::string_view family) {
    FcChar8* name = nullptr;
    for (int i = 0; FcPatternGetString(match, FC_FAMILY, i, &name) == FcResultMatch; ++i) {
        if (same_text_ignoring_case(reinterpret_cast<const char*>(name), family)) return true;
    }
    return false;
}

// The files fontconfig falls back to when a family is unknown, one per style.
struct DefaultFiles {
    std::array<std::string, 4> files;

    bool contains(const std::string& file) const {
        for (const auto& f : files) {
            if (!f.empty() && f == file) return true;
        }
        return false;
    }
};

const char* or_none(const std::string& file) {
    return file.empty() ? "(none)" : file.c_str();
}

void drop_redundant(std::string& file, bool debug) {
    if (debug) std::fprintf(stderr, "Dropping redundant font file '%s'\n", file.c_str());
    file.clear();
}

// One styled file is redundant when it is a file this entry already has, or when fontconfig
// handed out its fallback for a family it does not know.
void keep_styled_file(std::string& file, const std::optional<FontMatch>& match,
                      const std::vector<const std::string*>& chosen, const DefaultFiles& defaults,
                      bool debug) {
    if (!match) return;
    file = match->file;
    for (const std::string* other : chosen) {
        if (!other->empty() && *other == file) return drop_redundant(file, debug);
    }
    if (!match->exact_family && defaults.contains(file)) drop_redundant(file, debug);
}

std::string style_or(const std::string& style, const char* fallback) {
    return style.empty() ? fallback : style;
}

void resolve_primary(const FontConfigSession& fc, Settings& s, PrimaryFont& entry,
                     const DefaultFiles& defaults) {
    const bool debug = s.debug_font;
    const int sized = static_cast<int>(s.font_size) + entry.size_offset;
    const unsigned size = sized < 1 ? 1u : static_cast<unsigned>(sized);
    entry.regular_file.clear();
    entry.bold_file.clear();
    entry.italic_file.clear();
    entry.bold_italic_file.clear();

    if (auto regular = fc.query(entry.family, size, s.style_regular, debug)) {
        entry.regular_file = regular->file;
    }
    keep_styled_file(entry.bold_file,
                     fc.query(entry.family, size, style_or(s.style_bold, "Bold"), debug),
                     {&entry.regular_file}, defaults, debug);
    keep_styled_file(entry.italic_file,
                     fc.query(entry.family, size, style_or(s.style_italic, "Italic"), debug),
                     {&entry.regular_file, &entry.bold_file}, defaults, debug);
    keep_styled_file(
        entry.bold_italic_file,
        fc.query(entry.family, size, style_or(s.style_bolditalic, "Bold:Italic"), debug),
        {&entry.regular_file, &entry.bold_file, &entry.italic_file}, defaults, debug);

    if (entry.regular_file.empty()) {
        warn("Could not find font '%s'\n", entry.family.c_str());
        entry.bold_file.clear();
        entry.italic_file.clear();
        entry.bold_italic_file.clear();
    }
    s.has_bold_font |= !entry.bold_file.empty();
    s.has_italic_font |= !entry.italic_file.empty();
    s.has_bold_italic_font |= !entry.bold_italic_file.empty();
    if (debug) {
        std::printf(
            "Loaded styled font:\n  regular:     %s\n  bold:        %s\n  italic:      %s\n"
            "  bold italic: %s\n",
            or_none(entry.regular_file), or_none(entry.bold_file), or_none(entry.italic_file),
            or_none(entry.bold_italic_file));
    }
}

void resolve_unstyled(const FontConfigSession& fc, const Settings& s, UnstyledFont& entry,
                      const DefaultFiles& defaults, const char* kind) {
    const bool debug = s.debug_font;
    entry.file.clear();
    if (auto match = fc.query(entry.family, s.font_size, {}, debug)) {
        entry.file = match->file;
        if (!match->exact_family && entry.file == defaults.files[0])
            drop_redundant(entry.file, debug);
    }
    if (entry.file.empty()) warn("Could not find font '%s'\n", entry.family.c_str());
    if (debug)
        std::printf("Loaded unstyled (%s) font:\n  file:     %s\n", kind, or_none(entry.file));
}

}  // namespace

std::string font_query_text(std::string_view family, unsigned size, std::string_view style) {
    // "-", ":" and "," separate the fields of a fontconfig name: a family containing them
    // ("Foo-Bar") is escaped so that it stays one family.
    std::string text;
    for (char c : family) {
        if (c == '\\' || c == '-' || c == ':' || c == ',') text += '\\';
        text += c;
    }
    if (size != 0) text += "-" + std::to_string(size);
    if (!style.empty()) {
        text += ':';
        text += style;
    }
    return text;
}

FontConfigSession::FontConfigSession() : config_(FcInitLoadConfigAndFonts()) {
    if (!config_) fatal("Failed to load fontconfig configuration");
}

FontConfigSession::~FontConfigSession() {
    FcConfigDestroy(config_);
}

std::optional<FontMatch> FontConfigSession::query(std::string_view family, unsigned size,
                                                  std::string_view style, bool debug) const {
    const std::string text = font_query_text(family, size, style);
    if (debug) std::fprintf(stderr, "Match result for '%s':\n", text.c_str());

    FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>(text.c_str()));
    if (!pattern) return std::nullopt;
    if (!FcConfigSubstitute(config_, pattern, FcMatchPattern)) fatal("FcConfigSubstitute failed");
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(config_, pattern, &result);
    FcPatternDestroy(pattern);
    if (!match) return std::nullopt;

    FcFontSet* set = FcFontSetCreate();
    if (!FcFontSetAdd(set, match)) fatal("FcFontSetAdd failed");
    std::optional<FontMatch> found;
    FcChar8* file = nullptr;
    if (FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch) {
        found = FontMatch{reinterpret_cast<const char*>(file), false};
        found->exact_family = !family.empty() && (match_has_family(match, family) ||
                                                  same_text_ignoring_case(found->file, family));
        if (debug) std::fprintf(stderr, "  %s\n", found->file.c_str());
    }
    FcFontSetDestroy(set);
    return found;
}

void resolve_fonts(Settings& s) {
    FontConfigSession fc;
    const bool debug = s.debug_font;
    DefaultFiles defaults;
    const std::string styles[4] = {{},
                                   style_or(s.style_bold, "Bold"),
                                   style_or(s.style_italic, "Italic"),
                                   style_or(s.style_bolditalic, "Bold:Italic")};
    for (int i = 0; i < 4; ++i) {
        if (auto match = fc.query({}, s.font_size, styles[i], debug))
            defaults.files[i] = match->file;
    }

    if (s.font.empty()) {
        PrimaryFont monospace;
        monospace.family = "Monospace";
        s.font.push_back(std::move(monospace));
    }
    s.has_bold_font = s.has_italic_font = s.has_bold_italic_font = false;
    bool any_regular = false;
    for (PrimaryFont& entry : s.font) {
        resolve_primary(fc, s, entry, defaults);
        any_regular |= !entry.regular_file.empty();
    }
    if (!any_regular) {
        fatal("Failed to load any primary font. 'zelto --%s' to display font info on start",
              "debug-font");
    }
    s.has_symbol_font = s.has_color_font = false;
    for (UnstyledFont& entry : s.font_symbol) {
        resolve_unstyled(fc, s, entry, defaults, "symbol");
        s.has_symbol_font |= !entry.file.empty();
    }
    for (UnstyledFont& entry : s.font_color) {
        resolve_unstyled(fc, s, entry, defaults, "color");
        s.has_color_font |= !entry.file.empty();
    }
}

}  // namespace zelto
