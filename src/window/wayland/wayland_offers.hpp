#pragma once

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "window/transfer.hpp"

namespace zelto {

// The offers a selection device announces, each with the best text type it advertised. The
// device's selection event makes an offer the selection (a null one clears it); drag enter
// makes one the drag in progress, which never becomes the selection. The offer a slot gives
// up, and every announced offer that became neither, is destroyed, so offers never pile up
// however often other clients copy.
template <typename Offer>
class OfferKeeper {
  public:
    using Destroy = void (*)(Offer*);

    struct Kept {
        Offer* offer = nullptr;
        std::optional<std::size_t> type;  // index in ACCEPTED_TEXT_TYPES
        bool own = false;                 // zelto's own selection

        explicit operator bool() const { return offer != nullptr; }
    };

    // An offer advertising `own_type` is our own selection coming back; the type names the
    // process, so that another zelto's selection is not taken for ours.
    explicit OfferKeeper(Destroy destroy, std::string own_type = {})
        : destroy_(destroy), own_type_(std::move(own_type)) {}
    OfferKeeper(const OfferKeeper&) = delete;
    OfferKeeper& operator=(const OfferKeeper&) = delete;
    ~OfferKeeper() { clear(); }

    void announced(Offer* offer) { announced_.push_back({offer, std::nullopt, false}); }
    // One type the offer advertises; only the best accepted one is remembered.
    void offered(Offer* offer, std::string_view mime_type) {
        Kept* kept = find(offer);
        if (!kept) {
            return;
        }
        const std::optional<std::size_t> index = accepted_text_type(mime_type);
        if (index && (!kept->type || *index < *kept->type)) {
            kept->type = index;
        }
        kept->own = kept->own || (!own_type_.empty() && mime_type == own_type_);
    }
    // A null offer: the selection was cleared. One slot never takes the other's offer: it
    // would be destroyed twice.
    void selection(Offer* offer) {
        if (offer == nullptr || offer != drag_.offer) {
            replace(selection_, offer);
        }
    }
    void drag_entered(Offer* offer) {
        if (offer == nullptr || offer != selection_.offer) {
            replace(drag_, offer);
        }
    }
    void drag_ended() { replace(drag_, nullptr); }
    // Hands the drag offer over to the caller, who destroys it once its data has arrived.
    Kept take_drag() {
        const Kept taken = drag_;
        drag_ = {};
        return taken;
    }

    const Kept& selection_offer() const { return selection_; }
    const Kept& drag_offer() const { return drag_; }
    std::size_t live() const { return announced_.size() + (selection_ ? 1 : 0) + (drag_ ? 1 : 0); }
    void clear() {
        drop_announced(nullptr);
        replace(selection_, nullptr);
        replace(drag_, nullptr);
    }

  private:
    Kept* find(Offer* offer) {
        if (offer == nullptr) {
            return nullptr;
        }
        if (selection_.offer == offer) {
            return &selection_;
        }
        if (drag_.offer == offer) {
            return &drag_;
        }
        const auto found = std::find_if(announced_.begin(), announced_.end(),
                                        [offer](const Kept& kept) { return kept.offer == offer; });
        return found == announced_.end() ? nullptr : &*found;
    }
    void replace(Kept& slot, Offer* offer) {
        if (slot.offer == offer) {
            drop_announced(offer);
            return;
        }
        Kept next{offer, std::nullopt, false};
        if (const Kept* kept = find(offer)) {
            next = *kept;
        }
        if (slot.offer) {
            destroy_(slot.offer);
        }
        slot = next;
        drop_announced(offer);
    }
    void drop_announced(Offer* kept) {
        for (const Kept& entry : announced_) {
            if (entry.offer != kept && entry.offer != selection_.offer &&
                entry.offer != drag_.offer) {
                destroy_(entry.offer);
            }
        }
        announced_.clear();
    }

    Destroy destroy_;
    std::string own_type_;
    std::vector<Kept> announced_;
    Kept selection_;
    Kept drag_;
};

}  // namespace zelto
