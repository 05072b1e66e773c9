#include "terminal/vt.hpp"

#include <algorithm>

namespace zelto {

Vt::Vt(std::uint32_t cols, std::uint32_t rows, VtCallbacks& callbacks)
    : callbacks_(callbacks), cols_(cols), rows_(rows) {}

void Vt::resize(std::uint32_t cols, std::uint32_t rows) {
    cols_ = cols;
    rows_ = rows;
}

void Vt::interpret(std::string_view bytes) {
    received_.append(bytes);
    callbacks_.request_repaint();
}

std::string_view Vt::pending_output(std::size_t maximum) const {
    std::string_view queued(output_);
    queued.remove_prefix(output_front_);
    return queued.substr(0, maximum);
}

void Vt::consume_output(std::size_t count) {
    output_front_ = std::min(output_.size(), output_front_ + count);
    // Compact once the consumed front dominates, so consuming stays O(1) amortised.
    if (output_front_ == output_.size()) {
        output_.clear();
        output_front_ = 0;
    } else if (output_front_ > output_.size() / 2) {
        output_.erase(0, output_front_);
        output_front_ = 0;
    }
}

void Vt::queue_output(std::string_view bytes) { output_.append(bytes); }

}  // namespace zelto
