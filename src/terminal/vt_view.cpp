// Moving the view through the history. Keyboard select mode moves the view without changing
// whether it is detached, so the scroll commands say whether they may detach or attach.
#include <algorithm>

#include "terminal/vt.hpp"

namespace zelto {

bool Vt::view_line_up(bool detach) {
    end_synchronized_update();
    if (scrolled_back_) {
        if (view_top_ == 0) return false;
        --view_top_;
    } else {
        const std::size_t bottom = screen_top();
        if (bottom == 0) return false;
        view_top_ = bottom - 1;
        if (detach) scrolled_back_ = true;
    }
    request_repaint();
    return true;
}

bool Vt::view_line_down(bool attach) {
    end_synchronized_update();
    if (!scrolled_back_) return false;
    const std::size_t bottom = screen_top();
    const bool moved = view_top_ < bottom;
    if (moved) ++view_top_;
    if (view_top_ >= bottom && attach) {
        scrolled_back_ = false;
        view_top_ = 0;
    }
    request_repaint();
    return moved;
}

void Vt::view_scroll_to(std::size_t line, bool detach) {
    end_synchronized_update();
    const std::size_t bottom = screen_top();
    view_top_ = std::min(line, bottom);
    if (detach) scrolled_back_ = view_top_ != bottom;
    if (!scrolled_back_) view_top_ = 0;
    request_repaint();
}

void Vt::view_attach() { attach_view(); }

void Vt::view_freeze() {
    end_synchronized_update();
    if (scrolled_back_) return;
    scrolled_back_ = true;
    view_top_ = screen_top();
    request_repaint();
}

}  // namespace zelto
