#include "window/wayland/wayland_offers.hpp"

#include <gtest/gtest.h>

#include <set>

namespace zelto {
namespace {

struct Offer {
    int id;
};

std::multiset<int> destroyed;
void destroy(Offer* offer) {
    destroyed.insert(offer->id);
}

class OfferKeeperTest : public ::testing::Test {
  protected:
    void SetUp() override { destroyed.clear(); }
    Offer a{1}, b{2}, c{3}, d{4};
};

TEST_F(OfferKeeperTest, ANewSelectionReplacesTheOldOne) {
    OfferKeeper<Offer> keeper(destroy);
    keeper.announced(&a);
    keeper.selection(&a);
    EXPECT_EQ(keeper.selection_offer(), &a);
    EXPECT_TRUE(destroyed.empty());
    keeper.announced(&b);
    keeper.selection(&b);
    EXPECT_EQ(destroyed, std::multiset<int>{1});
    keeper.selection(nullptr);  // the selection was cleared
    EXPECT_EQ(destroyed, (std::multiset<int>{1, 2}));
    EXPECT_EQ(keeper.live(), 0u);
}

TEST_F(OfferKeeperTest, DragOffersNeverBecomeTheSelection) {
    OfferKeeper<Offer> keeper(destroy);
    keeper.announced(&a);
    keeper.selection(&a);
    keeper.announced(&b);
    keeper.drag_entered(&b);
    EXPECT_EQ(keeper.selection_offer(), &a);
    keeper.drag_ended();
    EXPECT_EQ(destroyed, std::multiset<int>{2});
    EXPECT_EQ(keeper.live(), 1u);
}

TEST_F(OfferKeeperTest, AnnouncedOffersThatBecomeNeitherAreDestroyed) {
    OfferKeeper<Offer> keeper(destroy);
    keeper.announced(&a);
    keeper.announced(&b);
    keeper.selection(&b);
    EXPECT_EQ(destroyed, std::multiset<int>{1});
    keeper.announced(&c);
    keeper.announced(&d);
    keeper.clear();
    EXPECT_EQ(destroyed, (std::multiset<int>{1, 2, 3, 4}));  // each exactly once
}

TEST_F(OfferKeeperTest, TheSameSelectionTwiceIsKept) {
    OfferKeeper<Offer> keeper(destroy);
    keeper.announced(&a);
    keeper.selection(&a);
    keeper.selection(&a);
    EXPECT_TRUE(destroyed.empty());
    EXPECT_EQ(keeper.live(), 1u);
}

}  // namespace
}  // namespace zelto
