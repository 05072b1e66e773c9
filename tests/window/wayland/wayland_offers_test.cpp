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
    EXPECT_EQ(keeper.selection_offer().offer, &a);
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
    EXPECT_EQ(keeper.selection_offer().offer, &a);
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

TEST_F(OfferKeeperTest, EachOfferKeepsTheBestTypeItAdvertised) {
    OfferKeeper<Offer> keeper(destroy);
    keeper.announced(&a);
    keeper.offered(&a, "text/plain");
    keeper.offered(&a, "text/plain;charset=utf-8");
    keeper.offered(&a, "TEXT");
    keeper.announced(&b);
    keeper.offered(&b, "image/png");
    // The types of an offer announced later do not change the earlier one's.
    keeper.selection(&a);
    ASSERT_TRUE(keeper.selection_offer());
    EXPECT_EQ(keeper.selection_offer().type, 1u);  // text/plain;charset=utf-8
    EXPECT_EQ(destroyed, std::multiset<int>{2});
}

TEST_F(OfferKeeperTest, AnImageOnlyOfferHasNoTypeToPaste) {
    OfferKeeper<Offer> keeper(destroy);
    keeper.announced(&a);
    keeper.offered(&a, "image/png");
    keeper.offered(&a, "text/html");
    keeper.selection(&a);
    EXPECT_EQ(keeper.selection_offer().offer, &a);
    EXPECT_FALSE(keeper.selection_offer().type);
}

TEST_F(OfferKeeperTest, AFileListFollowedByPlainTextPastesThePlainText) {
    OfferKeeper<Offer> keeper(destroy);
    keeper.announced(&a);
    keeper.offered(&a, "text/uri-list");
    keeper.selection(&a);
    EXPECT_EQ(keeper.selection_offer().type, 0u);
    keeper.announced(&b);
    keeper.offered(&b, "UTF8_STRING");
    keeper.selection(&b);
    EXPECT_EQ(keeper.selection_offer().offer, &b);
    EXPECT_EQ(keeper.selection_offer().type, 2u);
}

TEST_F(OfferKeeperTest, ADragOfferKeepsItsTypeAndIsHandedOverOnDrop) {
    OfferKeeper<Offer> keeper(destroy);
    keeper.announced(&a);
    keeper.selection(&a);
    keeper.announced(&b);
    keeper.offered(&b, "text/uri-list");
    keeper.offered(&b, "text/plain");
    keeper.drag_entered(&b);
    EXPECT_EQ(keeper.drag_offer().type, 0u);
    // Even a selection event naming the drag offer leaves the clipboard as it was.
    keeper.selection(&b);
    EXPECT_EQ(keeper.selection_offer().offer, &a);
    const auto dropped = keeper.take_drag();
    EXPECT_EQ(dropped.offer, &b);
    keeper.drag_ended();  // the leave after the drop
    EXPECT_TRUE(destroyed.empty()) << "the dropped offer is the taker's to destroy";
    EXPECT_EQ(keeper.live(), 1u);
}

TEST_F(OfferKeeperTest, OurOwnSelectionIsKnownByItsType) {
    OfferKeeper<Offer> keeper(destroy, "application/x-zelto-selection-42");
    keeper.announced(&a);
    keeper.offered(&a, "text/plain");
    keeper.offered(&a, "application/x-zelto-selection-42");
    keeper.selection(&a);
    EXPECT_TRUE(keeper.selection_offer().own);
    // Another zelto's selection is another client's.
    keeper.announced(&b);
    keeper.offered(&b, "application/x-zelto-selection-43");
    keeper.selection(&b);
    EXPECT_FALSE(keeper.selection_offer().own);
    // Without a type of our own, nothing is ours.
    OfferKeeper<Offer> plain(destroy);
    plain.announced(&c);
    plain.offered(&c, "");
    plain.selection(&c);
    EXPECT_FALSE(plain.selection_offer().own);
}

TEST_F(OfferKeeperTest, ANullSelectionClearsTheClipboardOffer) {
    OfferKeeper<Offer> keeper(destroy);
    keeper.announced(&a);
    keeper.offered(&a, "text/plain");
    keeper.selection(&a);
    keeper.selection(nullptr);
    EXPECT_FALSE(keeper.selection_offer());
    EXPECT_FALSE(keeper.selection_offer().type);
    EXPECT_EQ(destroyed, std::multiset<int>{1});
}

}  // namespace
}  // namespace zelto
