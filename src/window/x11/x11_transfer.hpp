#pragma once

// The selection-transfer decisions of the X11 backend that need no server: how a request is
// answered and how a large text is cut for an incremental transfer.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "window/transfer.hpp"

namespace zelto {

// An incremental transfer we serve counts as stale when the requestor has taken no piece for
// this long; the next large request may then replace it.
inline constexpr std::int64_t INCR_SEND_IDLE_MS = 500;

// Bytes per property write: a quarter of the request size the connection keeps (itself a
// quarter of the server's limit), so a piece always fits one request with room to spare.
std::size_t transfer_chunk_size(long max_request_size);

enum SelectionTarget { SELECTION_TARGET_TARGETS, SELECTION_TARGET_TEXT, SELECTION_TARGET_OTHER };

enum SelectionReply {
    SELECTION_REPLY_REFUSE,
    SELECTION_REPLY_TARGETS,  // the list of text types
    SELECTION_REPLY_WHOLE,    // the text in one property
    SELECTION_REPLY_INCR,     // an incremental transfer starts
    SELECTION_REPLY_BUSY,     // refused: another incremental transfer is running
};

struct SelectionRequestFacts {
    bool owns_text = false;
    SelectionTarget target = SELECTION_TARGET_OTHER;
    std::size_t text_size = 0;
    std::size_t chunk_size = 0;
    bool incr_running = false;  // another incremental transfer that is not stale
};

SelectionReply decide_selection_reply(const SelectionRequestFacts& facts);

// The next piece of an incremental transfer after `sent` bytes; empty when all was sent (the
// empty piece that ends the transfer).
std::string_view next_incr_piece(std::string_view text, std::size_t sent, std::size_t chunk);

// The 32-bit value of an Xdnd rectangle field: two 16-bit halves.
long pack_16_pair(std::int32_t high, std::int32_t low);

}  // namespace zelto
