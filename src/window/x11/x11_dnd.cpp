// clang-format off
#include "window/x11/x11_dnd.hpp"
#include "window/x11/x11_transfer.hpp"

#include <X11/Xatom.h>
// clang-format on

#include <array>
#include <memory>

namespace zelto {

namespace {

// XdndEnter: data.l[1] bit 0 says the source's XdndTypeList holds more types than the three
// in the message.
constexpr long ENTER_MORE_TYPES = 1;
constexpr long STATUS_ACCEPT = 1;
constexpr long FINISHED_ACCEPTED = 1;
constexpr long MAX_TYPE_LIST = 65536;

}  // namespace

X11Dnd::X11Dnd(Display* display, const X11Atoms& atoms, ::Window window, X11Selections& selections)
    : display_(display), atoms_(atoms), window_(window), selections_(selections) {
    selections_.on_drop_done = [this](bool delivered) {
        send_finished(source_, delivered);
        reset();
    };
}

bool X11Dnd::on_client_message(const XClientMessageEvent& event, const WindowGeometry& area) {
    if (event.format != 32) {
        return false;
    }
    if (event.message_type == atoms_.xdnd_enter) {
        on_enter(event);
    } else if (event.message_type == atoms_.xdnd_position) {
        on_position(event, area);
    } else if (event.message_type == atoms_.xdnd_drop) {
        on_drop(event);
    } else if (event.message_type == atoms_.xdnd_leave) {
        on_leave(event);
    } else {
        return false;
    }
    return true;
}

// A new drag waits until the data of a drop has come (or was given up).
void X11Dnd::on_enter(const XClientMessageEvent& event) {
    if (dropping_) {
        return;
    }
    std::vector<Atom> offered;
    const auto source = static_cast<::Window>(event.data.l[0]);
    if (event.data.l[1] & ENTER_MORE_TYPES) {
        offered = read_type_list(source);
    } else {
        for (int i = 2; i < 5; ++i) {
            offered.push_back(static_cast<Atom>(event.data.l[i]));
        }
    }
    // Best first.
    const std::array<unsigned long, 6> accepted = {
        atoms_.text_uri_list,
        atoms_.text_plain_utf8,
        atoms_.utf8_string,
        atoms_.text_plain,
        XA_STRING,
        atoms_.text,
    };
    const std::optional<std::size_t> best = best_offered_type(offered, accepted);
    source_ = source;
    type_ = best ? accepted[*best] : None;
    dropping_ = false;
}

// A list of another type or format is no list of types.
std::vector<Atom> X11Dnd::read_type_list(::Window source) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    std::vector<Atom> types;
    if (XGetWindowProperty(display_, source, atoms_.xdnd_type_list, 0, MAX_TYPE_LIST, False,
                           XA_ATOM, &type, &format, &count, &after, &data) != Success) {
        return types;
    }
    std::unique_ptr<unsigned char, int (*)(void*)> owned(data, XFree);
    if (type != XA_ATOM || format != 32 || !data) {
        return types;
    }
    const auto* atoms = reinterpret_cast<const Atom*>(data);
    types.assign(atoms, atoms + count);
    return types;
}

// Only a copy is ever accepted: a source told "move" deletes its files after the drop.
void X11Dnd::on_position(const XClientMessageEvent& event, const WindowGeometry& area) {
    const auto from = static_cast<::Window>(event.data.l[0]);
    const bool accept = from == source_ && type_ != None;
    XEvent reply{};
    XClientMessageEvent& status = reply.xclient;
    status.type = ClientMessage;
    status.display = display_;
    status.window = from;
    status.message_type = atoms_.xdnd_status;
    status.format = 32;
    status.data.l[0] = static_cast<long>(window_);
    status.data.l[1] = accept ? STATUS_ACCEPT : 0;
    status.data.l[2] = pack_16_pair(area.x, area.y);
    status.data.l[3] =
        pack_16_pair(static_cast<std::int32_t>(area.w), static_cast<std::int32_t>(area.h));
    status.data.l[4] = accept ? static_cast<long>(atoms_.xdnd_action_copy) : None;
    XSendEvent(display_, from, False, NoEventMask, &reply);
    XFlush(display_);
}

void X11Dnd::on_drop(const XClientMessageEvent& event) {
    const auto from = static_cast<::Window>(event.data.l[0]);
    if (from != source_ || type_ == None) {
        // Told at once, a source that dropped something we cannot take need not wait.
        send_finished(from, false);
        if (from == source_) {
            reset();
        }
        return;
    }
    dropping_ = true;
    selections_.receive_drop(type_, static_cast<Time>(event.data.l[2]));
}

void X11Dnd::on_leave(const XClientMessageEvent& event) {
    if (!dropping_ && static_cast<::Window>(event.data.l[0]) == source_) {
        reset();
    }
}

void X11Dnd::send_finished(::Window target, bool accepted) {
    if (target == None) {
        return;
    }
    XEvent message{};
    XClientMessageEvent& finished = message.xclient;
    finished.type = ClientMessage;
    finished.display = display_;
    finished.window = target;
    finished.message_type = atoms_.xdnd_finished;
    finished.format = 32;
    finished.data.l[0] = static_cast<long>(window_);
    finished.data.l[1] = accepted ? FINISHED_ACCEPTED : 0;
    finished.data.l[2] = accepted ? static_cast<long>(atoms_.xdnd_action_copy) : None;
    XSendEvent(display_, target, False, NoEventMask, &message);
    XFlush(display_);
}

void X11Dnd::reset() {
    source_ = None;
    type_ = None;
    dropping_ = false;
}

}  // namespace zelto
