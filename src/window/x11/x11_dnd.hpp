#pragma once

// clang-format off
// zelto's headers come before the X headers, whose macros (CursorShape) clash with their names.
#include "window/x11/x11_logic.hpp"
#include "window/x11/x11_selection.hpp"

#include <X11/Xlib.h>
// clang-format on

#include <vector>

namespace zelto {

// The receiving side of Xdnd drags: which offered type to take, the answers to the source,
// and the drop, whose data comes through the selections like a paste.
class X11Dnd {
  public:
    X11Dnd(Display* display, const X11Atoms& atoms, ::Window window, X11Selections& selections);
    X11Dnd(const X11Dnd&) = delete;
    X11Dnd& operator=(const X11Dnd&) = delete;

    // Handles an Xdnd client message; false for any other message. `area` is the window's
    // rectangle in root coordinates.
    bool on_client_message(const XClientMessageEvent& event, const WindowGeometry& area);

  private:
    void on_enter(const XClientMessageEvent& event);
    void on_position(const XClientMessageEvent& event, const WindowGeometry& area);
    void on_drop(const XClientMessageEvent& event);
    void on_leave(const XClientMessageEvent& event);
    std::vector<Atom> read_type_list(::Window source);
    void send_finished(::Window target, bool accepted);
    void reset();

    Display* display_;
    const X11Atoms& atoms_;
    ::Window window_;
    X11Selections& selections_;
    ::Window source_ = 0;
    Atom type_ = 0;  // the offered type we take; None when nothing offered fits
    bool dropping_ = false;
};

}  // namespace zelto
