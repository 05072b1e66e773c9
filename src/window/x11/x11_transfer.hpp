#pragma once

// The selection-transfer decisions of the X11 backend that need no server: which offered type
// to take, how a request is answered, how a large text is cut for an incremental transfer, and
// how much received text is kept.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace zelto {

// Received text beyond this is dropped.
inline constexpr std::size_t MAX_PASTE_BYTES = std::size_t{64} << 20;
// An incremental transfer we serve counts as stale when the requestor has taken no piece for
// this long; the next large request may then replace it.
inline constexpr std::int64_t INCR_SEND_IDLE_MS = 500;
// A paste or drop whose owner says nothing for this long is abandoned.
inline constexpr std::int64_t RECEIVE_SILENCE_MS = 2000;

// Bytes per property write: a quarter of the request size the connection keeps (itself a
// quarter of the server's limit), so a piece always fits one request with room to spare.
std::size_t transfer_chunk_size(long max_request_size);

// The index in `accepted` (best first) of the best type in `offered`; none when nothing
// offered is accepted. Zero entries (None) never match.
std::optional<std::size_t> best_offered_type(std::span<const unsigned long> offered,
                                             std::span<const unsigned long> accepted);

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

// Text received from another client, kept up to MAX_PASTE_BYTES (or `limit` for tests).
class PasteBuffer {
  public:
    explicit PasteBuffer(std::size_t limit = MAX_PASTE_BYTES) : limit_(limit) {}

    // Keeps what fits; true when this piece made the buffer drop something for the first time.
    bool append(std::string_view piece);
    // Records that text was left unread once the buffer was full; true the first time.
    bool drop_rest();
    bool full() const { return text_.size() >= limit_; }
    bool truncated() const { return truncated_; }
    const std::string& text() const { return text_; }

  private:
    std::size_t limit_;
    std::string text_;
    bool truncated_ = false;
};

// The 32-bit value of an Xdnd rectangle field: two 16-bit halves.
long pack_16_pair(std::int32_t high, std::int32_t low);

}  // namespace zelto
