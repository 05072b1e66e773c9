#include "window/transfer.hpp"

#include <algorithm>

namespace zelto {

std::optional<std::size_t> best_offered_type(std::span<const unsigned long> offered,
                                             std::span<const unsigned long> accepted) {
    std::optional<std::size_t> best;
    for (const unsigned long type : offered) {
        if (type == 0) {
            continue;
        }
        const auto found = std::find(accepted.begin(), accepted.end(), type);
        if (found == accepted.end()) {
            continue;
        }
        const auto index = static_cast<std::size_t>(found - accepted.begin());
        if (!best || index < *best) {
            best = index;
        }
    }
    return best;
}

std::optional<std::size_t> accepted_text_type(std::string_view type) {
    const auto found = std::find(ACCEPTED_TEXT_TYPES.begin(), ACCEPTED_TEXT_TYPES.end(), type);
    if (found == ACCEPTED_TEXT_TYPES.end()) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(found - ACCEPTED_TEXT_TYPES.begin());
}

bool is_served_text_type(std::string_view type) {
    return std::find(SERVED_TEXT_TYPES.begin(), SERVED_TEXT_TYPES.end(), type) !=
           SERVED_TEXT_TYPES.end();
}

bool PasteBuffer::append(std::string_view piece) {
    const std::size_t room = limit_ - std::min(limit_, text_.size());
    text_.append(piece.substr(0, room));
    return piece.size() > room && drop_rest();
}

bool PasteBuffer::drop_rest() {
    const bool first = !truncated_;
    truncated_ = true;
    return first;
}

}  // namespace zelto
