#pragma once

#include <cstddef>
#include <vector>

namespace zelto {

// The offers a selection device announces. An offer is kept while it is the selection or the
// drag in progress; the one it replaces, and every announced offer that became neither, is
// destroyed, so offers never pile up however often other clients copy.
template <typename Offer>
class OfferKeeper {
  public:
    using Destroy = void (*)(Offer*);

    explicit OfferKeeper(Destroy destroy) : destroy_(destroy) {}
    OfferKeeper(const OfferKeeper&) = delete;
    OfferKeeper& operator=(const OfferKeeper&) = delete;
    ~OfferKeeper() { clear(); }

    void announced(Offer* offer) { announced_.push_back(offer); }
    // A null offer: the selection was cleared.
    void selection(Offer* offer) { replace(selection_, offer); }
    void drag_entered(Offer* offer) { replace(drag_, offer); }
    void drag_ended() { replace(drag_, nullptr); }

    Offer* selection_offer() const { return selection_; }
    std::size_t live() const { return announced_.size() + (selection_ ? 1 : 0) + (drag_ ? 1 : 0); }
    void clear() {
        drop_announced(nullptr);
        replace(selection_, nullptr);
        replace(drag_, nullptr);
    }

  private:
    void replace(Offer*& slot, Offer* offer) {
        if (slot && slot != offer) {
            destroy_(slot);
        }
        slot = offer;
        drop_announced(offer);
    }
    void drop_announced(Offer* kept) {
        for (Offer* offer : announced_) {
            if (offer != kept && offer != selection_ && offer != drag_) {
                destroy_(offer);
            }
        }
        announced_.clear();
    }

    Destroy destroy_;
    std::vector<Offer*> announced_;
    Offer* selection_ = nullptr;
    Offer* drag_ = nullptr;
};

}  // namespace zelto
