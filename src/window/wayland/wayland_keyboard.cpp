#include "window/wayland/wayland_keyboard.hpp"

#include <unistd.h>
#include <xkbcommon/xkbcommon-compose.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "config/settings.hpp"
#include "util/diagnostics.hpp"

namespace zelto {

namespace {

std::uint32_t mask_of(xkb_keymap* keymap, const char* name) {
    const xkb_mod_index_t index = xkb_keymap_mod_get_index(keymap, name);
    return index == XKB_MOD_INVALID ? 0 : 1u << index;
}

}  // namespace

std::string compose_locale() {
    if (!settings().locale.empty()) {
        return settings().locale;
    }
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(name);
        if (value && *value) {
            return value;
        }
    }
    return "C";
}

WaylandKeyboard::WaylandKeyboard() : context_(xkb_context_new(XKB_CONTEXT_NO_FLAGS)) {
    if (!context_) {
        fatal("Failed to create xkb context");
    }
}

WaylandKeyboard::~WaylandKeyboard() {
    release_keymap();
    xkb_context_unref(context_);
}

void WaylandKeyboard::release_keymap() {
    xkb_compose_state_unref(compose_state_);
    xkb_compose_table_unref(compose_table_);
    xkb_state_unref(plain_state_);
    xkb_state_unref(state_);
    xkb_keymap_unref(keymap_);
    compose_state_ = nullptr;
    compose_table_ = nullptr;
    plain_state_ = nullptr;
    state_ = nullptr;
    keymap_ = nullptr;
}

void WaylandKeyboard::set_keymap_text(std::string_view text) {
    // The compositor's text may end with NUL bytes; the parser wants the text alone.
    while (!text.empty() && text.back() == '\0') {
        text.remove_suffix(1);
    }
    release_keymap();
    xkb_keymap* keymap = xkb_keymap_new_from_buffer(
        context_, text.data(), text.size(), XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (!keymap) {
        fatal("Failed to generate keymap");
    }
    install_keymap(keymap);
}

bool WaylandKeyboard::set_keymap_names(const char* layout, const char* variant,
                                       const char* options) {
    const xkb_rule_names names{"evdev", "pc105", layout, variant, options};
    xkb_keymap* keymap = xkb_keymap_new_from_names(context_, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (!keymap) {
        return false;
    }
    release_keymap();
    install_keymap(keymap);
    return true;
}

void WaylandKeyboard::install_keymap(xkb_keymap* keymap) {
    keymap_ = keymap;
    state_ = xkb_state_new(keymap_);
    plain_state_ = xkb_state_new(keymap_);
    if (!state_ || !plain_state_) {
        fatal("Failed to create keyboard state");
    }
    load_compose_table();
    control_mask_ = mask_of(keymap_, XKB_MOD_NAME_CTRL);
    alt_mask_ = mask_of(keymap_, XKB_MOD_NAME_ALT);
    shift_mask_ = mask_of(keymap_, XKB_MOD_NAME_SHIFT);
}

void WaylandKeyboard::load_compose_table() {
    const std::string locale = compose_locale();
    const char* file_name = std::getenv("XCOMPOSEFILE");
    if (file_name && *file_name && access(file_name, R_OK) == 0) {
        if (std::FILE* file = std::fopen(file_name, "r")) {
            compose_table_ = xkb_compose_table_new_from_file(context_, file, locale.c_str(),
                                                             XKB_COMPOSE_FORMAT_TEXT_V1,
                                                             XKB_COMPOSE_COMPILE_NO_FLAGS);
            std::fclose(file);
        }
        if (!compose_table_) {
            warn("Failed to generate keyboard compose table from XCOMPOSEFILE '%s'\n", file_name);
        }
    } else {
        compose_table_ = xkb_compose_table_new_from_locale(context_, locale.c_str(),
                                                           XKB_COMPOSE_COMPILE_NO_FLAGS);
        if (!compose_table_) {
            warn("Failed to generate keyboard compose table from locale '%s'\n", locale.c_str());
        }
    }
    if (compose_table_) {
        compose_state_ = xkb_compose_state_new(compose_table_, XKB_COMPOSE_STATE_NO_FLAGS);
        if (!compose_state_) {
            warn("Failed to create keyboard compose state");
        }
    }
}

void WaylandKeyboard::update_modifiers(std::uint32_t depressed, std::uint32_t latched,
                                       std::uint32_t locked, std::uint32_t group) {
    if (state_) {
        xkb_state_update_mask(state_, depressed, latched, locked, 0, 0, group);
    }
}

std::uint32_t WaylandKeyboard::modifiers() const {
    if (!state_) {
        return 0;
    }
    const xkb_mod_mask_t mods = xkb_state_serialize_mods(state_, XKB_STATE_MODS_EFFECTIVE);
    std::uint32_t result = 0;
    if (mods & shift_mask_) result |= MODIFIER_SHIFT;
    if (mods & alt_mask_) result |= MODIFIER_ALT;
    if (mods & control_mask_) result |= MODIFIER_CTRL;
    return result;
}

std::uint32_t WaylandKeyboard::text_of(std::uint32_t xkb_keycode, std::uint32_t keysym,
                                       bool pressed, bool& composing) {
    composing = false;
    if (pressed && compose_state_ &&
        xkb_compose_state_feed(compose_state_, keysym) == XKB_COMPOSE_FEED_ACCEPTED) {
        switch (xkb_compose_state_get_status(compose_state_)) {
            case XKB_COMPOSE_COMPOSING:
            case XKB_COMPOSE_CANCELLED:
                composing = true;
                return 0;
            case XKB_COMPOSE_COMPOSED: {
                const std::uint32_t composed =
                    xkb_keysym_to_utf32(xkb_compose_state_get_one_sym(compose_state_));
                xkb_compose_state_reset(compose_state_);
                return composed;
            }
            case XKB_COMPOSE_NOTHING:
                break;
        }
    }
    return xkb_state_key_get_utf32(state_, xkb_keycode);
}

std::optional<WaylandKeyReport> WaylandKeyboard::translate(std::uint32_t keycode, bool pressed,
                                                           bool from_compositor, MonoTime now) {
    if (!state_) {
        return std::nullopt;
    }
    const std::uint32_t xkb_keycode = keycode + 8;
    const std::uint32_t keysym = xkb_state_key_get_one_sym(state_, xkb_keycode);
    bool composing = false;
    // The compose state sees every press, the Multi_key that starts a sequence included.
    const std::uint32_t text = text_of(xkb_keycode, keysym, pressed, composing);
    if (is_bare_modifier_keysym(keysym)) {
        return std::nullopt;
    }
    const std::uint32_t raw_keysym = xkb_state_key_get_one_sym(plain_state_, xkb_keycode);
    std::optional<WaylandKeyReport> report;
    if (pressed && !composing) {
        report = wayland_key_report(keysym, text, raw_keysym, modifiers());
    }
    if (!report) {
        if (repeat_.held() == keycode) {
            repeat_.stop();
        }
        return std::nullopt;
    }
    if (from_compositor) {
        repeat_.press(keycode, now);
    }
    return report;
}

std::optional<WaylandKeyReport> WaylandKeyboard::key(std::uint32_t keycode, bool pressed,
                                                     MonoTime now) {
    return translate(keycode, pressed, true, now);
}

std::optional<WaylandKeyReport> WaylandKeyboard::repeat_due(MonoTime now) {
    if (!repeat_.take_due(now)) {
        return std::nullopt;
    }
    return translate(repeat_.held(), true, false, now);
}

std::uint32_t WaylandKeyboard::key_value_from_name(const char* name) {
    const xkb_keysym_t keysym = xkb_keysym_from_name(name, XKB_KEYSYM_CASE_INSENSITIVE);
    if (keysym == XKB_KEY_NoSymbol) {
        return 0;
    }
    const std::uint32_t code_point = xkb_keysym_to_utf32(keysym);
    return code_point != 0 ? code_point : keysym;
}

}  // namespace zelto
