#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "util/mono_time.hpp"
#include "window/wayland/wayland_logic.hpp"

struct xkb_context;
struct xkb_keymap;
struct xkb_state;
struct xkb_compose_table;
struct xkb_compose_state;

namespace zelto {

// The keyboard as the compositor describes it: keymap, modifier state, compose state and key
// repeat, turning keycodes into the reports `key_handler` receives.
class WaylandKeyboard {
  public:
    WaylandKeyboard();
    WaylandKeyboard(const WaylandKeyboard&) = delete;
    WaylandKeyboard& operator=(const WaylandKeyboard&) = delete;
    ~WaylandKeyboard();

    // Replaces the keymap with one in the XKB text format; failures end the process.
    void set_keymap_text(std::string_view text);
    // Replaces the keymap with one compiled from rule names ("evdev", "pc105", "us", ...).
    // Whether it compiled.
    bool set_keymap_names(const char* layout, const char* variant, const char* options);
    bool has_keymap() const { return keymap_ != nullptr; }

    void update_modifiers(std::uint32_t depressed, std::uint32_t latched, std::uint32_t locked,
                          std::uint32_t group);
    // The set_info of the compositor's repeat_info.
    void set_repeat_info(std::int32_t rate, std::int32_t delay_ms) {
        repeat_.set_info(rate, delay_ms);
    }
    const KeyRepeat& repeat() const { return repeat_; }
    void stop_repeat() { repeat_.stop(); }

    // A key event from the compositor (`keycode` as wl_keyboard numbers it): the report, if any.
    std::optional<WaylandKeyReport> key(std::uint32_t keycode, bool pressed, MonoTime now);
    // The repeat of the held key when it is due at `now` (one per call).
    std::optional<WaylandKeyReport> repeat_due(MonoTime now);

    // Shift, Alt and Control as MODIFIER_* bits, from the effective modifier state.
    std::uint32_t modifiers() const;

    // The key value of a key-binding name: its character's code point, else the key symbol, 0
    // when unknown. Case is ignored.
    static std::uint32_t key_value_from_name(const char* name);

  private:
    std::optional<WaylandKeyReport> translate(std::uint32_t keycode, bool pressed,
                                              bool from_compositor, MonoTime now);
    std::uint32_t text_of(std::uint32_t xkb_keycode, std::uint32_t keysym, bool pressed,
                          bool& composing);
    void install_keymap(xkb_keymap* keymap);
    void load_compose_table();
    void release_keymap();

    xkb_context* context_ = nullptr;
    xkb_keymap* keymap_ = nullptr;
    xkb_state* state_ = nullptr;
    xkb_state* plain_state_ = nullptr;  // never updated: keysyms without modifiers
    xkb_compose_table* compose_table_ = nullptr;
    xkb_compose_state* compose_state_ = nullptr;
    std::uint32_t control_mask_ = 0;
    std::uint32_t alt_mask_ = 0;
    std::uint32_t shift_mask_ = 0;
    KeyRepeat repeat_;
};

// The locale compose tables are looked up for: the configured one, else the environment's.
std::string compose_locale();

}  // namespace zelto
