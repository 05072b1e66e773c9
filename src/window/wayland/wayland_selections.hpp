#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "util/mono_time.hpp"
#include "window/wayland/wayland_offers.hpp"
#include "window/wayland/wayland_transfers.hpp"
#include "window/window.hpp"

struct wl_callback;
struct wl_display;
struct wl_data_device_manager;
struct wl_data_device;
struct wl_data_offer;
struct wl_data_source;
struct zwp_primary_selection_device_manager_v1;
struct zwp_primary_selection_device_v1;
struct zwp_primary_selection_offer_v1;
struct zwp_primary_selection_source_v1;

namespace zelto {

// The window's side of the clipboard, the primary selection and drops: serving zelto's own
// text to other clients, keeping the offers of theirs, and asking for their text when the user
// pastes. Every transfer runs through the pump, so no other client can make zelto wait.
class WaylandSelections {
  public:
    // `serial` is the connection's serial of the last input event, which the compositor wants
    // when the selection is set.
    WaylandSelections(Window& window, const std::uint32_t& serial);
    WaylandSelections(const WaylandSelections&) = delete;
    WaylandSelections& operator=(const WaylandSelections&) = delete;
    ~WaylandSelections() { release(); }

    // Called once the display is connected; the pump watches its descriptor.
    void connect(wl_display* display);
    // Listens to the devices as they are made.
    void listen(wl_data_device_manager* manager, wl_data_device* device);
    void listen(zwp_primary_selection_device_manager_v1* manager,
                zwp_primary_selection_device_v1* device);

    // Lets go of every offer, source and transfer, while the display is still connected.
    void release();

    void clipboard_send(std::string text);
    void clipboard_get();
    void primary_send(std::string text);
    void primary_get();

    int poll_fd() const { return pump_->poll_fd(); }
    void service() { pump_->service(); }
    void expire(MonoTime now) { pump_->expire(now); }
    std::optional<MonoTime> next_deadline() const { return pump_->next_deadline(); }
    std::size_t live_offer_count() const {
        return clipboard_offers_.live() + primary_offers_.live();
    }
    std::size_t serving_count() const { return pump_->serving(); }

    // Listener entry points.
    void on_data_offer(wl_data_offer* offer);
    void on_offer_type(wl_data_offer* offer, const char* mime_type);
    void on_offer_action(wl_data_offer* offer, std::uint32_t action);
    void on_selection(wl_data_offer* offer) { clipboard_offers_.selection(offer); }
    void on_drag_enter(std::uint32_t serial, wl_data_offer* offer);
    void on_drag_leave() { clipboard_offers_.drag_ended(); }
    void on_drop();
    void on_primary_offer(zwp_primary_selection_offer_v1* offer);
    void on_primary_offer_type(zwp_primary_selection_offer_v1* offer, const char* mime_type) {
        primary_offers_.offered(offer, mime_type);
    }
    void on_primary_selection(zwp_primary_selection_offer_v1* offer);
    void on_source_send(wl_data_source* source, const char* mime_type, int fd);
    void on_source_cancelled(wl_data_source* source);
    void on_primary_source_send(zwp_primary_selection_source_v1* source, const char* mime_type,
                                int fd);
    void on_primary_source_cancelled(zwp_primary_selection_source_v1* source);
    void on_settled(wl_callback* callback);

  private:
    using Text = std::shared_ptr<const std::string>;

    // Asks for the offered text in `type`: `ask` hands the pipe's write end to the offer.
    void paste(std::optional<std::size_t> type,
               const std::function<void(int fd, const char* type)>& ask);
    void deliver(const std::string& text, std::size_t type);
    void deliver_own(const Text& text);
    void destroy_clipboard_source();
    void destroy_primary_source();
    bool owns_clipboard() const;
    bool owns_primary() const;
    // Asks the compositor for a sign once it has dealt with what was sent before.
    wl_callback* settle(wl_callback* previous);

    Window& window_;
    const std::uint32_t& serial_;
    wl_display* display_ = nullptr;
    wl_data_device_manager* data_manager_ = nullptr;
    wl_data_device* data_device_ = nullptr;
    zwp_primary_selection_device_manager_v1* primary_manager_ = nullptr;
    zwp_primary_selection_device_v1* primary_device_ = nullptr;
    std::unique_ptr<TransferPump> pump_;
    OfferKeeper<wl_data_offer> clipboard_offers_;
    OfferKeeper<zwp_primary_selection_offer_v1> primary_offers_;
    // The selection is zelto's while its source is alive and the selection offer is its own, or
    // while the compositor has not yet answered the claim (`*_settling_`). A compositor may
    // ignore a claim, with a serial older than the current selection's, without cancelling the
    // source: a live source alone proves nothing.
    wl_data_source* clipboard_source_ = nullptr;
    Text clipboard_text_;
    wl_callback* clipboard_settling_ = nullptr;
    zwp_primary_selection_source_v1* primary_source_ = nullptr;
    Text primary_text_;
    wl_callback* primary_settling_ = nullptr;
    std::uint32_t drag_serial_ = 0;
    bool drag_copy_ = false;  // the compositor settled on the copy action for the drag
};

}  // namespace zelto
