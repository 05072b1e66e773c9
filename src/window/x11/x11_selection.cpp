// clang-format off
#include "window/x11/x11_selection.hpp"
#include "util/diagnostics.hpp"
#include "window/uri_list.hpp"

#include <X11/Xatom.h>
// clang-format on

#include <algorithm>
#include <array>
#include <cstdint>

namespace zelto {

namespace {

// Received properties are read in pieces of this many 32-bit units (1 MiB).
constexpr long READ_PIECE_UNITS = 256 * 1024;

}  // namespace

X11Selections::X11Selections(Display* display, const X11Atoms& atoms, ::Window window,
                             long max_request_size)
    : display_(display),
      atoms_(atoms),
      window_(window),
      chunk_size_(transfer_chunk_size(max_request_size)) {}

X11Selections::OwnedText* X11Selections::owned_slot(Atom selection) {
    if (selection == XA_PRIMARY) {
        return &primary_;
    }
    if (selection == atoms_.clipboard) {
        return &clipboard_;
    }
    return nullptr;
}

void X11Selections::own(Atom selection, std::string text) {
    OwnedText* slot = owned_slot(selection);
    if (!slot) {
        return;
    }
    *slot = std::make_shared<const std::string>(std::move(text));
    XSetSelectionOwner(display_, selection, window_, CurrentTime);
    if (XGetSelectionOwner(display_, selection) != window_) {
        warn(selection == XA_PRIMARY ? "Failed to take ownership of PRIMARY selection\n"
                                     : "Failed to take ownership of CLIPBOARD selection\n");
        slot->reset();
    }
}

void X11Selections::paste(Atom selection, WindowCallbacks* callbacks) {
    OwnedText* slot = owned_slot(selection);
    if (!slot) {
        return;
    }
    // Asked of the server: the SelectionClear of a new owner may still be on its way.
    const ::Window owner = XGetSelectionOwner(display_, selection);
    if (*slot && owner == window_) {
        // Held here so that a callback that copies again cannot free the text under us.
        const OwnedText text = *slot;
        if (callbacks && !text->empty()) {
            callbacks->on_clipboard_data(*text);
        }
        return;
    }
    slot->reset();
    if (owner == None || incoming_) {
        return;
    }
    request_conversion(selection, atoms_.utf8_string, CurrentTime, false);
}

void X11Selections::receive_drop(Atom type, Time time) {
    if (incoming_) {
        if (on_drop_done) {
            on_drop_done(false);
        }
        return;
    }
    if (!request_conversion(atoms_.xdnd_selection, type, time, true)) {
        incoming_.reset();
        if (on_drop_done) {
            on_drop_done(false);
        }
    }
}

// The answer comes into a property named like the selection.
bool X11Selections::request_conversion(Atom selection, Atom type, Time time, bool drop) {
    Incoming incoming;
    incoming.selection = selection;
    incoming.property = selection;
    incoming.owner = XGetSelectionOwner(display_, selection);
    incoming.drop = drop;
    incoming.deadline = mono_add_ms(mono_now(), RECEIVE_SILENCE_MS);
    incoming_ = std::move(incoming);
    XDeleteProperty(display_, window_, selection);
    const int status = XConvertSelection(display_, selection, type, selection, window_, time);
    XFlush(display_);
    if (status == 0 && drop) {
        warn("XConvertSelection failed: %d\n", status);
    }
    return status != 0;
}

SelectionTarget X11Selections::classify_target(Atom target) const {
    if (target == atoms_.targets) {
        return SELECTION_TARGET_TARGETS;
    }
    if (target == atoms_.text_plain_utf8 || target == atoms_.utf8_string ||
        target == atoms_.text_plain || target == XA_STRING) {
        return SELECTION_TARGET_TEXT;
    }
    return SELECTION_TARGET_OTHER;
}

void X11Selections::on_selection_request(const XSelectionRequestEvent& request) {
    // Obsolete clients name no property: the target is then the property.
    const Atom property = request.property != None ? request.property : request.target;
    OwnedText* slot = owned_slot(request.selection);
    const OwnedText text = slot ? *slot : nullptr;
    SelectionRequestFacts facts;
    // Watching our own window's properties on a requestor's behalf would replace its event mask.
    facts.owns_text = text != nullptr && request.requestor != window_;
    facts.target = classify_target(request.target);
    facts.text_size = text ? text->size() : 0;
    facts.chunk_size = chunk_size_;
    facts.incr_running = outgoing_ && mono_now() <= outgoing_->deadline;
    switch (decide_selection_reply(facts)) {
        case SELECTION_REPLY_REFUSE:
            refuse(request);
            break;
        case SELECTION_REPLY_TARGETS: {
            std::array<Atom, 4> targets = {atoms_.utf8_string, atoms_.text_plain_utf8,
                                           atoms_.text_plain, XA_STRING};
            XChangeProperty(display_, request.requestor, property, XA_ATOM, 32, PropModeReplace,
                            reinterpret_cast<unsigned char*>(targets.data()),
                            static_cast<int>(targets.size()));
            notify(request, property);
            break;
        }
        case SELECTION_REPLY_WHOLE:
            XChangeProperty(display_, request.requestor, property, request.target, 8,
                            PropModeReplace, reinterpret_cast<const unsigned char*>(text->data()),
                            static_cast<int>(text->size()));
            notify(request, property);
            break;
        case SELECTION_REPLY_BUSY:
            warn("Previous INCR transfer in progress, refusing selection request\n");
            refuse(request);
            break;
        case SELECTION_REPLY_INCR:
            start_incr(request, property, text);
            break;
    }
    XFlush(display_);
}

void X11Selections::refuse(const XSelectionRequestEvent& request) {
    notify(request, None);
}

void X11Selections::notify(const XSelectionRequestEvent& request, Atom property) {
    XEvent event{};
    XSelectionEvent& reply = event.xselection;
    reply.type = SelectionNotify;
    reply.display = display_;
    reply.requestor = request.requestor;
    reply.selection = request.selection;
    reply.target = request.target;
    reply.property = property;
    reply.time = request.time;
    XSendEvent(display_, request.requestor, False, NoEventMask, &event);
}

// The requestor takes each piece by deleting the property; its PropertyNotify brings the next.
void X11Selections::start_incr(const XSelectionRequestEvent& request, Atom property,
                               OwnedText text) {
    if (outgoing_) {
        stop_outgoing();
    }
    // The requestor may be a window we already watch (the root window): its mask is extended
    // for the transfer and given back afterwards.
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(display_, request.requestor, &attributes)) {
        refuse(request);
        return;
    }
    XSelectInput(display_, request.requestor, attributes.your_event_mask | PropertyChangeMask);
    // The length as one 32-bit item: a lower bound the requestor may size its buffer by.
    long length = static_cast<long>(std::min<std::size_t>(text->size(), INT32_MAX));
    XChangeProperty(display_, request.requestor, property, atoms_.incr, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&length), 1);
    Outgoing outgoing;
    outgoing.requestor = request.requestor;
    outgoing.previous_mask = attributes.your_event_mask;
    outgoing.property = property;
    outgoing.type = request.target;
    outgoing.text = std::move(text);
    outgoing.deadline = mono_add_ms(mono_now(), INCR_SEND_IDLE_MS);
    outgoing_ = std::move(outgoing);
    notify(request, property);
}

void X11Selections::send_next_piece() {
    Outgoing& out = *outgoing_;
    const std::string_view piece = next_incr_piece(*out.text, out.sent, chunk_size_);
    XChangeProperty(display_, out.requestor, out.property, out.type, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(piece.data()),
                    static_cast<int>(piece.size()));
    if (piece.empty()) {
        stop_outgoing();
    } else {
        out.sent += piece.size();
        out.deadline = mono_add_ms(mono_now(), INCR_SEND_IDLE_MS);
    }
    XFlush(display_);
}

void X11Selections::stop_outgoing() {
    XSelectInput(display_, outgoing_->requestor, outgoing_->previous_mask);
    outgoing_.reset();
}

void X11Selections::on_selection_clear(const XSelectionClearEvent& event) {
    if (event.window != window_) {
        return;
    }
    if (OwnedText* slot = owned_slot(event.selection)) {
        slot->reset();
    }
}

// Only the answer to our own pending request counts: any client can send a SelectionNotify,
// and an unasked one must never become typed text.
void X11Selections::on_selection_notify(const XSelectionEvent& event, WindowCallbacks* callbacks) {
    if (!incoming_ || incoming_->incremental || event.requestor != window_ ||
        event.selection != incoming_->selection) {
        return;
    }
    if (event.property == None) {
        abandon_incoming();
        return;
    }
    incoming_->property = event.property;
    const PropertyRead read = read_incoming_property(event.property);
    if (read.type == atoms_.incr) {
        // Deleting the property (done by the read) asks the owner for the first piece.
        incoming_->incremental = true;
        incoming_->deadline = mono_add_ms(mono_now(), RECEIVE_SILENCE_MS);
        return;
    }
    if (read.format != 8) {
        if (read.type != None) {
            warn("Clipboard data of format %d ignored\n", read.format);
        }
        abandon_incoming();
        return;
    }
    finish_incoming(callbacks, read.type);
}

void X11Selections::on_property_notify(const XPropertyEvent& event, WindowCallbacks* callbacks) {
    if (outgoing_ && event.window == outgoing_->requestor && event.atom == outgoing_->property &&
        event.state == PropertyDelete) {
        send_next_piece();
        return;
    }
    if (!incoming_ || !incoming_->incremental || event.window != window_ ||
        event.atom != incoming_->property || event.state != PropertyNewValue) {
        return;
    }
    const PropertyRead read = read_incoming_property(event.atom);
    if (read.format != 8) {
        warn("Clipboard data of format %d ignored\n", read.format);
        abandon_incoming();
        return;
    }
    if (read.empty) {
        finish_incoming(callbacks, incoming_->type);
        return;
    }
    incoming_->type = read.type;
    incoming_->deadline = mono_add_ms(mono_now(), RECEIVE_SILENCE_MS);
}

// Keeps what the paste buffer has room for, and deletes the property whatever it held.
X11Selections::PropertyRead X11Selections::read_incoming_property(Atom property) {
    PropertyRead result;
    PasteBuffer& buffer = incoming_->buffer;
    long offset = 0;
    for (;;) {
        Atom type = None;
        int format = 0;
        unsigned long count = 0;
        unsigned long after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(display_, window_, property, offset, READ_PIECE_UNITS, False,
                               AnyPropertyType, &type, &format, &count, &after, &data) != Success) {
            break;
        }
        result.type = type;
        result.format = format;
        result.empty = result.empty && count == 0 && after == 0;
        bool dropped = false;
        if (format == 8 && count > 0) {
            dropped = buffer.append(std::string_view(reinterpret_cast<const char*>(data), count));
        }
        XFree(data);
        if (format == 8 && after > 0 && buffer.full()) {
            dropped = buffer.drop_rest() || dropped;
        }
        if (dropped) {
            warn("Pasted text longer than %zu MiB, the rest is dropped\n", MAX_PASTE_BYTES >> 20);
        }
        if (format != 8 || after == 0 || buffer.full()) {
            break;
        }
        offset += static_cast<long>(count / 4);
    }
    XDeleteProperty(display_, window_, property);
    return result;
}

void X11Selections::finish_incoming(WindowCallbacks* callbacks, Atom type) {
    const Incoming incoming = std::move(*incoming_);
    incoming_.reset();
    std::string_view text = incoming.buffer.text();
    std::string paths;
    if (type == atoms_.text_uri_list) {
        paths = uri_list_to_paths(text);
        text = paths;
    }
    if (callbacks && !text.empty()) {
        callbacks->on_clipboard_data(text);
    }
    if (incoming.drop && on_drop_done) {
        on_drop_done(true);
    }
}

void X11Selections::abandon_incoming() {
    const bool drop = incoming_->drop;
    incoming_.reset();
    if (drop && on_drop_done) {
        on_drop_done(false);
    }
}

void X11Selections::expire(MonoTime now) {
    if (incoming_ && now > incoming_->deadline) {
        warn("Cooperating client (xid: %ld) failed to communicate\n",
             static_cast<long>(incoming_->owner));
        abandon_incoming();
    }
}

std::optional<MonoTime> X11Selections::next_deadline() const {
    if (!incoming_) {
        return std::nullopt;
    }
    return incoming_->deadline;
}

}  // namespace zelto
