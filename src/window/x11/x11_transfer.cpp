#include "window/x11/x11_transfer.hpp"

namespace zelto {

std::size_t transfer_chunk_size(long max_request_size) {
    const long chunk = max_request_size / 4;
    return chunk > 0 ? static_cast<std::size_t>(chunk) : 1;
}

SelectionReply decide_selection_reply(const SelectionRequestFacts& facts) {
    if (!facts.owns_text) {
        return SELECTION_REPLY_REFUSE;
    }
    switch (facts.target) {
        case SELECTION_TARGET_TARGETS:
            return SELECTION_REPLY_TARGETS;
        case SELECTION_TARGET_TEXT:
            if (facts.text_size <= facts.chunk_size) {
                return SELECTION_REPLY_WHOLE;
            }
            return facts.incr_running ? SELECTION_REPLY_BUSY : SELECTION_REPLY_INCR;
        case SELECTION_TARGET_OTHER:
            break;
    }
    return SELECTION_REPLY_REFUSE;
}

std::string_view next_incr_piece(std::string_view text, std::size_t sent, std::size_t chunk) {
    if (sent >= text.size()) {
        return {};
    }
    return text.substr(sent, chunk);
}

long pack_16_pair(std::int32_t high, std::int32_t low) {
    const auto h = static_cast<unsigned long>(static_cast<std::uint16_t>(high));
    const auto l = static_cast<unsigned long>(static_cast<std::uint16_t>(low));
    return static_cast<long>((h << 16) | l);
}

}  // namespace zelto
