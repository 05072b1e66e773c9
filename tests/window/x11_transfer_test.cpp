// Selection-transfer decisions of the X11 backend, without a server.
#include "window/x11/x11_transfer.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zelto {
namespace {

constexpr unsigned long URI_LIST = 101;
constexpr unsigned long PLAIN_UTF8 = 102;
constexpr unsigned long UTF8 = 103;
constexpr unsigned long PNG = 200;

const std::vector<unsigned long> ACCEPTED = {URI_LIST, PLAIN_UTF8, UTF8};

TEST(X11Transfer, TheBestAcceptedOfferedTypeIsChosen) {
    EXPECT_EQ(best_offered_type(std::vector<unsigned long>{UTF8, PNG, URI_LIST}, ACCEPTED), 0u);
    EXPECT_EQ(best_offered_type(std::vector<unsigned long>{PNG, UTF8, PLAIN_UTF8}, ACCEPTED), 1u);
    EXPECT_EQ(best_offered_type(std::vector<unsigned long>{PNG, 0, 0}, ACCEPTED), std::nullopt);
    EXPECT_EQ(best_offered_type(std::vector<unsigned long>{}, ACCEPTED), std::nullopt);
}

TEST(X11Transfer, RequestsAreAnsweredByTargetSizeAndTransferInProgress) {
    SelectionRequestFacts facts;
    facts.chunk_size = 100;
    facts.target = SELECTION_TARGET_TEXT;
    facts.text_size = 10;
    EXPECT_EQ(decide_selection_reply(facts), SELECTION_REPLY_REFUSE) << "nothing owned";
    facts.owns_text = true;
    EXPECT_EQ(decide_selection_reply(facts), SELECTION_REPLY_WHOLE);
    facts.text_size = 100;
    EXPECT_EQ(decide_selection_reply(facts), SELECTION_REPLY_WHOLE) << "one full chunk";
    facts.text_size = 101;
    EXPECT_EQ(decide_selection_reply(facts), SELECTION_REPLY_INCR);
    facts.incr_running = true;
    EXPECT_EQ(decide_selection_reply(facts), SELECTION_REPLY_BUSY);
    facts.target = SELECTION_TARGET_TARGETS;
    EXPECT_EQ(decide_selection_reply(facts), SELECTION_REPLY_TARGETS);
    facts.target = SELECTION_TARGET_OTHER;
    EXPECT_EQ(decide_selection_reply(facts), SELECTION_REPLY_REFUSE);
}

TEST(X11Transfer, IncrementalPiecesCoverTheTextAndEndEmpty) {
    const std::string text(250, 'x');
    std::vector<std::size_t> sizes;
    std::size_t sent = 0;
    for (;;) {
        const std::string_view piece = next_incr_piece(text, sent, 100);
        sizes.push_back(piece.size());
        if (piece.empty()) break;
        sent += piece.size();
    }
    EXPECT_EQ(sizes, (std::vector<std::size_t>{100, 100, 50, 0}));
    EXPECT_EQ(transfer_chunk_size(1048575), 262143u);
    EXPECT_EQ(transfer_chunk_size(0), 1u) << "a piece is never empty while text remains";
}

TEST(X11Transfer, PasteBufferKeepsAtMostItsLimitAndSaysSoOnce) {
    PasteBuffer buffer(10);
    EXPECT_FALSE(buffer.append("12345"));
    EXPECT_FALSE(buffer.full());
    EXPECT_TRUE(buffer.append("6789abc"));
    EXPECT_TRUE(buffer.full());
    EXPECT_FALSE(buffer.append("more")) << "the warning is given once";
    EXPECT_FALSE(buffer.drop_rest());
    EXPECT_EQ(buffer.text(), "123456789a");
    EXPECT_TRUE(buffer.truncated());

    PasteBuffer exact(4);
    EXPECT_FALSE(exact.append("1234"));
    EXPECT_TRUE(exact.full());
    EXPECT_FALSE(exact.truncated());
    EXPECT_TRUE(exact.drop_rest());
    EXPECT_EQ(MAX_PASTE_BYTES, 64u * 1024 * 1024);
}

TEST(X11Transfer, XdndRectanglesPackTwoSixteenBitHalves) {
    EXPECT_EQ(pack_16_pair(0x12, 0x34), 0x00120034);
    EXPECT_EQ(pack_16_pair(640, 480), (640L << 16) | 480);
    EXPECT_EQ(pack_16_pair(-1, 2), 0xFFFF0002L) << "a window left of the screen";
}

}  // namespace
}  // namespace zelto
