#pragma once

// What both window backends share when text passes between zelto and other clients: which
// offered type to take, and how much received text is kept.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace zelto {

// Received text beyond this is dropped.
inline constexpr std::size_t MAX_PASTE_BYTES = std::size_t{64} << 20;
// A paste or drop whose owner says nothing for this long is abandoned.
inline constexpr std::int64_t RECEIVE_SILENCE_MS = 2000;

// The types taken from another client, best first. A list of files is best: dropped files
// become their paths.
inline constexpr std::array<std::string_view, 6> ACCEPTED_TEXT_TYPES = {
    "text/uri-list", "text/plain;charset=utf-8", "UTF8_STRING", "text/plain", "STRING", "TEXT",
};
inline constexpr std::size_t URI_LIST_TYPE_INDEX = 0;
// The types zelto serves its own text in.
inline constexpr std::array<std::string_view, 5> SERVED_TEXT_TYPES = {
    "text/plain;charset=utf-8", "UTF8_STRING", "text/plain", "STRING", "TEXT",
};

// The index in `accepted` (best first) of the best type in `offered`; none when nothing
// offered is accepted. Zero entries (None) never match.
std::optional<std::size_t> best_offered_type(std::span<const unsigned long> offered,
                                             std::span<const unsigned long> accepted);

// The index of `type` in ACCEPTED_TEXT_TYPES; none when it is not taken.
std::optional<std::size_t> accepted_text_type(std::string_view type);
bool is_served_text_type(std::string_view type);

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

}  // namespace zelto
