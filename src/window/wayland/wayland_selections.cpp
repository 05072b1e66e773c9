#include "window/wayland/wayland_selections.hpp"

#include <fcntl.h>
#include <unistd.h>
#include <wayland-client.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "primary-selection-unstable-v1-client-protocol.h"
#include "util/diagnostics.hpp"
#include "window/uri_list.hpp"

namespace zelto {

namespace {

WaylandSelections* self(void* data) {
    return static_cast<WaylandSelections*>(data);
}

const wl_data_offer_listener DATA_OFFER_LISTENER = {
    [](void* data, wl_data_offer* offer, const char* mime_type) {
        self(data)->on_offer_type(offer, mime_type);
    },
    [](void*, wl_data_offer*, std::uint32_t) {},
    [](void* data, wl_data_offer* offer, std::uint32_t action) {
        self(data)->on_offer_action(offer, action);
    },
};

const wl_data_device_listener DATA_DEVICE_LISTENER = {
    [](void* data, wl_data_device*, wl_data_offer* offer) { self(data)->on_data_offer(offer); },
    [](void* data, wl_data_device*, std::uint32_t serial, wl_surface*, wl_fixed_t, wl_fixed_t,
       wl_data_offer* offer) { self(data)->on_drag_enter(serial, offer); },
    [](void* data, wl_data_device*) { self(data)->on_drag_leave(); },
    [](void*, wl_data_device*, std::uint32_t, wl_fixed_t, wl_fixed_t) {},
    [](void* data, wl_data_device*) { self(data)->on_drop(); },
    [](void* data, wl_data_device*, wl_data_offer* offer) { self(data)->on_selection(offer); },
};

const wl_data_source_listener DATA_SOURCE_LISTENER = {
    [](void*, wl_data_source*, const char*) {},
    [](void* data, wl_data_source* source, const char* mime_type, int fd) {
        self(data)->on_source_send(source, mime_type, fd);
    },
    [](void* data, wl_data_source* source) { self(data)->on_source_cancelled(source); },
    [](void*, wl_data_source*) {},
    [](void*, wl_data_source*) {},
    [](void*, wl_data_source*, std::uint32_t) {},
};

const zwp_primary_selection_offer_v1_listener PRIMARY_OFFER_LISTENER = {
    [](void* data, zwp_primary_selection_offer_v1* offer, const char* mime_type) {
        self(data)->on_primary_offer_type(offer, mime_type);
    },
};

const zwp_primary_selection_device_v1_listener PRIMARY_DEVICE_LISTENER = {
    [](void* data, zwp_primary_selection_device_v1*, zwp_primary_selection_offer_v1* offer) {
        self(data)->on_primary_offer(offer);
    },
    [](void* data, zwp_primary_selection_device_v1*, zwp_primary_selection_offer_v1* offer) {
        self(data)->on_primary_selection(offer);
    },
};

const zwp_primary_selection_source_v1_listener PRIMARY_SOURCE_LISTENER = {
    [](void* data, zwp_primary_selection_source_v1* source, const char* mime_type, int fd) {
        self(data)->on_primary_source_send(source, mime_type, fd);
    },
    [](void* data, zwp_primary_selection_source_v1* source) {
        self(data)->on_primary_source_cancelled(source);
    },
};

const wl_callback_listener SETTLED_LISTENER = {
    [](void* data, wl_callback* callback, std::uint32_t) { self(data)->on_settled(callback); },
};

// Offered beside the text types by our own sources.
std::string own_selection_type() {
    return "application/x-zelto-selection-" + std::to_string(getpid());
}

std::string type_name(std::size_t type) {
    return std::string(ACCEPTED_TEXT_TYPES[type]);
}

// A pipe whose write end `send` hands to the owner; the read end, or none when no pipe could
// be made. Our copy of the write end is closed at once, so the read ends when the owner's does.
template <typename Send>
UniqueFd open_transfer_pipe(wl_display* display, Send send) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) < 0) {
        warn("IO error: %s\n", std::strerror(errno));
        return UniqueFd();
    }
    UniqueFd read_end(ends[0]);
    const UniqueFd write_end(ends[1]);
    send(write_end.get());
    wl_display_flush(display);
    return read_end;
}

}  // namespace

WaylandSelections::WaylandSelections(Window& window, const std::uint32_t& serial)
    : window_(window),
      serial_(serial),
      clipboard_offers_(wl_data_offer_destroy, own_selection_type()),
      primary_offers_(zwp_primary_selection_offer_v1_destroy, own_selection_type()) {}

void WaylandSelections::release() {
    // A drop still arriving finishes its offer from here.
    pump_.reset();
    clipboard_offers_.clear();
    primary_offers_.clear();
    destroy_clipboard_source();
    destroy_primary_source();
    data_device_ = nullptr;
    primary_device_ = nullptr;
}

void WaylandSelections::connect(wl_display* display) {
    display_ = display;
    pump_ = std::make_unique<TransferPump>(wl_display_get_fd(display));
}

void WaylandSelections::listen(wl_data_device_manager* manager, wl_data_device* device) {
    data_manager_ = manager;
    data_device_ = device;
    wl_data_device_add_listener(device, &DATA_DEVICE_LISTENER, this);
}

void WaylandSelections::listen(zwp_primary_selection_device_manager_v1* manager,
                               zwp_primary_selection_device_v1* device) {
    primary_manager_ = manager;
    primary_device_ = device;
    zwp_primary_selection_device_v1_add_listener(device, &PRIMARY_DEVICE_LISTENER, this);
}

// Sending ------------------------------------------------------------------------------------

void WaylandSelections::clipboard_send(std::string text) {
    if (text.empty() || !data_manager_ || !data_device_) {
        return;
    }
    wl_data_source* source = wl_data_device_manager_create_data_source(data_manager_);
    wl_data_source_add_listener(source, &DATA_SOURCE_LISTENER, this);
    for (const std::string_view type : SERVED_TEXT_TYPES) {
        wl_data_source_offer(source, std::string(type).c_str());
    }
    wl_data_source_offer(source, own_selection_type().c_str());
    wl_data_device_set_selection(data_device_, source, serial_);
    destroy_clipboard_source();
    clipboard_source_ = source;
    clipboard_text_ = std::make_shared<const std::string>(std::move(text));
    clipboard_settling_ = settle(clipboard_settling_);
    wl_display_flush(display_);
}

// An empty text gives the primary selection up.
void WaylandSelections::primary_send(std::string text) {
    if (!primary_manager_ || !primary_device_) {
        return;
    }
    if (text.empty()) {
        zwp_primary_selection_device_v1_set_selection(primary_device_, nullptr, serial_);
        destroy_primary_source();
        wl_display_flush(display_);
        return;
    }
    zwp_primary_selection_source_v1* source =
        zwp_primary_selection_device_manager_v1_create_source(primary_manager_);
    zwp_primary_selection_source_v1_add_listener(source, &PRIMARY_SOURCE_LISTENER, this);
    for (const std::string_view type : SERVED_TEXT_TYPES) {
        zwp_primary_selection_source_v1_offer(source, std::string(type).c_str());
    }
    zwp_primary_selection_source_v1_offer(source, own_selection_type().c_str());
    zwp_primary_selection_device_v1_set_selection(primary_device_, source, serial_);
    destroy_primary_source();
    primary_source_ = source;
    primary_text_ = std::make_shared<const std::string>(std::move(text));
    primary_settling_ = settle(primary_settling_);
    wl_display_flush(display_);
}

void WaylandSelections::on_source_send(wl_data_source* source, const char* mime_type, int fd) {
    UniqueFd requestor(fd);
    if (source == clipboard_source_ && mime_type && is_served_text_type(mime_type)) {
        pump_->serve(std::move(requestor), clipboard_text_);
    }
}

void WaylandSelections::on_primary_source_send(zwp_primary_selection_source_v1* source,
                                               const char* mime_type, int fd) {
    UniqueFd requestor(fd);
    if (source == primary_source_ && mime_type && is_served_text_type(mime_type)) {
        pump_->serve(std::move(requestor), primary_text_);
    }
}

// Another client took the selection. A source is destroyed only here or when it is replaced,
// and forgotten at once, so it is never destroyed twice.
void WaylandSelections::on_source_cancelled(wl_data_source* source) {
    if (source == clipboard_source_) {
        destroy_clipboard_source();
    }
}

void WaylandSelections::on_primary_source_cancelled(zwp_primary_selection_source_v1* source) {
    if (source == primary_source_) {
        destroy_primary_source();
    }
}

void WaylandSelections::destroy_clipboard_source() {
    if (clipboard_source_) {
        wl_data_source_destroy(clipboard_source_);
        clipboard_source_ = nullptr;
    }
    if (clipboard_settling_) {
        wl_callback_destroy(clipboard_settling_);
        clipboard_settling_ = nullptr;
    }
    clipboard_text_.reset();
}

void WaylandSelections::destroy_primary_source() {
    if (primary_source_) {
        zwp_primary_selection_source_v1_destroy(primary_source_);
        primary_source_ = nullptr;
    }
    if (primary_settling_) {
        wl_callback_destroy(primary_settling_);
        primary_settling_ = nullptr;
    }
    primary_text_.reset();
}

wl_callback* WaylandSelections::settle(wl_callback* previous) {
    if (previous) {
        wl_callback_destroy(previous);
    }
    wl_callback* callback = wl_display_sync(display_);
    wl_callback_add_listener(callback, &SETTLED_LISTENER, this);
    return callback;
}

// The compositor's answer to a claim comes before this: its selection event if it took the
// claim and zelto has the focus, nothing if it ignored the claim.
void WaylandSelections::on_settled(wl_callback* callback) {
    wl_callback_destroy(callback);
    if (callback == clipboard_settling_) {
        clipboard_settling_ = nullptr;
    } else if (callback == primary_settling_) {
        primary_settling_ = nullptr;
    }
}

bool WaylandSelections::owns_clipboard() const {
    return clipboard_source_ && (clipboard_settling_ || clipboard_offers_.selection_offer().own);
}

bool WaylandSelections::owns_primary() const {
    return primary_source_ && (primary_settling_ || primary_offers_.selection_offer().own);
}

// Offers -------------------------------------------------------------------------------------

void WaylandSelections::on_data_offer(wl_data_offer* offer) {
    wl_data_offer_add_listener(offer, &DATA_OFFER_LISTENER, this);
    clipboard_offers_.announced(offer);
}

void WaylandSelections::on_offer_type(wl_data_offer* offer, const char* mime_type) {
    if (mime_type) {
        clipboard_offers_.offered(offer, mime_type);
    }
}

void WaylandSelections::on_primary_offer(zwp_primary_selection_offer_v1* offer) {
    zwp_primary_selection_offer_v1_add_listener(offer, &PRIMARY_OFFER_LISTENER, this);
    primary_offers_.announced(offer);
}

// The compositor hands zelto's own selection back as an offer on every focus-in: only another
// client's means that the highlighted text is no longer the primary selection.
void WaylandSelections::on_primary_selection(zwp_primary_selection_offer_v1* offer) {
    primary_offers_.selection(offer);
    if (offer && !primary_offers_.selection_offer().own && window_.callbacks) {
        window_.callbacks->on_selection_lost();
    }
}

// Only a copy is ever asked for: a source told "move" deletes its files after the drop.
void WaylandSelections::on_drag_enter(std::uint32_t serial, wl_data_offer* offer) {
    clipboard_offers_.drag_entered(offer);
    drag_serial_ = serial;
    drag_copy_ = false;
    const auto& drag = clipboard_offers_.drag_offer();
    if (!drag) {
        return;
    }
    const std::string type = drag.type ? type_name(*drag.type) : std::string();
    wl_data_offer_accept(drag.offer, serial, drag.type ? type.c_str() : nullptr);
    wl_data_offer_set_actions(drag.offer, WL_DATA_DEVICE_MANAGER_DND_ACTION_COPY,
                              WL_DATA_DEVICE_MANAGER_DND_ACTION_COPY);
    wl_display_flush(display_);
}

void WaylandSelections::on_offer_action(wl_data_offer* offer, std::uint32_t action) {
    const auto& drag = clipboard_offers_.drag_offer();
    if (!drag || drag.offer != offer) {
        return;
    }
    drag_copy_ = action == WL_DATA_DEVICE_MANAGER_DND_ACTION_COPY;
    if (drag_copy_) {
        const std::string type = drag.type ? type_name(*drag.type) : std::string();
        wl_data_offer_accept(offer, drag_serial_, drag.type ? type.c_str() : nullptr);
        wl_display_flush(display_);
    }
}

// The dropped offer outlives the drag: it is finished and destroyed once its data is here.
void WaylandSelections::on_drop() {
    const auto drag = clipboard_offers_.take_drag();
    if (!drag) {
        return;
    }
    if (!drag_copy_ || !drag.type || pump_->receiving()) {
        wl_data_offer_destroy(drag.offer);
        return;
    }
    const std::size_t type = *drag.type;
    UniqueFd data = open_transfer_pipe(
        display_, [&](int fd) { wl_data_offer_receive(drag.offer, type_name(type).c_str(), fd); });
    if (!data) {
        wl_data_offer_destroy(drag.offer);
        return;
    }
    wl_data_offer* offer = drag.offer;
    pump_->receive(std::move(data), [this, offer, type](const std::string* text) {
        if (text) {
            deliver(*text, type);
        }
        wl_data_offer_finish(offer);
        wl_data_offer_destroy(offer);
        wl_display_flush(display_);
    });
}

// Pasting ------------------------------------------------------------------------------------

// Our own text needs no pipe: writing it to ourselves would wait on our own reading.
void WaylandSelections::clipboard_get() {
    if (owns_clipboard()) {
        deliver_own(clipboard_text_);
        return;
    }
    // Our own selection whose source is gone has nothing left to give.
    const auto& kept = clipboard_offers_.selection_offer();
    if (kept && !kept.own) {
        paste(kept.type,
              [&](int fd, const char* type) { wl_data_offer_receive(kept.offer, type, fd); });
    }
}

void WaylandSelections::primary_get() {
    if (owns_primary()) {
        deliver_own(primary_text_);
        return;
    }
    const auto& kept = primary_offers_.selection_offer();
    if (kept && !kept.own) {
        paste(kept.type, [&](int fd, const char* type) {
            zwp_primary_selection_offer_v1_receive(kept.offer, type, fd);
        });
    }
}

// An offer without a type of ours is never pasted; one paste comes at a time.
void WaylandSelections::paste(std::optional<std::size_t> type,
                              const std::function<void(int fd, const char* type)>& ask) {
    if (!type || pump_->receiving()) {
        return;
    }
    const std::size_t index = *type;
    const std::string name = type_name(index);
    UniqueFd data = open_transfer_pipe(display_, [&](int fd) { ask(fd, name.c_str()); });
    if (data) {
        pump_->receive(std::move(data), [this, index](const std::string* text) {
            if (text) {
                deliver(*text, index);
            }
        });
    }
}

void WaylandSelections::deliver(const std::string& text, std::size_t type) {
    std::string paths;
    std::string_view pasted = text;
    if (type == URI_LIST_TYPE_INDEX) {
        paths = uri_list_to_paths(text);
        pasted = paths;
    }
    if (!pasted.empty() && window_.callbacks) {
        window_.callbacks->on_clipboard_data(pasted);
    }
}

// Held here so that a callback that copies again cannot free the text under us.
void WaylandSelections::deliver_own(const Text& text) {
    const Text held = text;
    if (held && !held->empty() && window_.callbacks) {
        window_.callbacks->on_clipboard_data(*held);
    }
}

}  // namespace zelto
