#pragma once

#include <array>

#include "config/settings.hpp"

namespace zelto {

// Every key binding of the settings, quit included, in the order the settings keep them.
inline std::array<KeyBinding*, 19> key_bindings(Settings& s) {
    return {&s.bind_key_copy,       &s.bind_key_copy_output, &s.bind_key_paste,
            &s.bind_key_enlarge,    &s.bind_key_shrink,      &s.bind_key_unicode,
            &s.bind_key_ln_up,      &s.bind_key_ln_down,     &s.bind_key_pg_up,
            &s.bind_key_pg_down,    &s.bind_key_mark_up,     &s.bind_key_mark_down,
            &s.bind_key_extern_pipe, &s.bind_key_kbd_select, &s.bind_key_html_dump,
            &s.bind_key_open_pwd,   &s.bind_key_duplicate,   &s.bind_key_debug,
            &s.bind_key_quit};
}

}  // namespace zelto
