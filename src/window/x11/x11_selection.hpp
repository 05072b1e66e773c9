#pragma once

// clang-format off
// zelto's headers come before the X headers, whose macros (CursorShape) clash with their names.
#include "util/mono_time.hpp"
#include "window/window.hpp"
#include "window/x11/x11_connection.hpp"
#include "window/x11/x11_transfer.hpp"

#include <X11/Xlib.h>
// clang-format on

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace zelto {

// The window's side of the PRIMARY and CLIPBOARD selections and of the data of a drop: owning
// text and serving it (whole or incrementally), and asking the owner for its text. Nothing
// here waits for another client: every step is taken when its event arrives from the loop.
class X11Selections {
  public:
    X11Selections(Display* display, const X11Atoms& atoms, ::Window window, long max_request_size);
    X11Selections(const X11Selections&) = delete;
    X11Selections& operator=(const X11Selections&) = delete;
    ~X11Selections() = default;

    // Takes `selection` (XA_PRIMARY or CLIPBOARD) with `text` to serve.
    void own(Atom selection, std::string text);
    // Pastes `selection`: our own text at once, another owner's when it answers. While one
    // answer is still coming, no other is asked for: two owners writing into the same
    // property would mix their texts.
    void paste(Atom selection, WindowCallbacks* callbacks);
    // Asks the drag source for the dropped data in `type`; `on_drop_done` reports the end.
    void receive_drop(Atom type, Time time);

    void on_selection_request(const XSelectionRequestEvent& event);
    void on_selection_clear(const XSelectionClearEvent& event);
    void on_selection_notify(const XSelectionEvent& event, WindowCallbacks* callbacks);
    void on_property_notify(const XPropertyEvent& event, WindowCallbacks* callbacks);

    // Gives up a paste whose owner has been silent too long.
    void expire(MonoTime now);
    // When `expire` has something to do next.
    std::optional<MonoTime> next_deadline() const;

    // Called when the data of a drop was delivered (true) or could not be had (false).
    std::function<void(bool delivered)> on_drop_done;

  private:
    using OwnedText = std::shared_ptr<const std::string>;

    struct Outgoing {
        ::Window requestor = 0;
        long previous_mask = 0;  // what we selected on the requestor before
        Atom property = 0;
        Atom type = 0;
        std::size_t sent = 0;
        OwnedText text;
        MonoTime deadline;
    };

    struct Incoming {
        Atom selection = 0;
        Atom property = 0;
        ::Window owner = 0;
        bool drop = false;
        bool incremental = false;
        Atom type = 0;  // of the pieces of an incremental transfer
        PasteBuffer buffer;
        MonoTime deadline;
    };

    OwnedText* owned_slot(Atom selection);
    SelectionTarget classify_target(Atom target) const;
    void refuse(const XSelectionRequestEvent& request);
    void notify(const XSelectionRequestEvent& request, Atom property);
    void start_incr(const XSelectionRequestEvent& request, Atom property, OwnedText text);
    void send_next_piece();
    void stop_outgoing();
    bool request_conversion(Atom selection, Atom type, Time time, bool drop);

    struct PropertyRead {
        Atom type = 0;
        int format = 0;
        bool empty = true;
    };
    PropertyRead read_incoming_property(Atom property);
    void finish_incoming(WindowCallbacks* callbacks, Atom type);
    void abandon_incoming();

    Display* display_;
    const X11Atoms& atoms_;
    ::Window window_;
    std::size_t chunk_size_;
    OwnedText primary_;
    OwnedText clipboard_;
    std::optional<Outgoing> outgoing_;
    std::optional<Incoming> incoming_;
};

}  // namespace zelto
