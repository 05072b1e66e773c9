#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "util/mono_time.hpp"
#include "util/unique_fd.hpp"
#include "window/transfer.hpp"

namespace zelto {

// Served texts are kept for this many requestors at once; a further one gives up the oldest,
// which can only be one that has stopped reading.
inline constexpr std::size_t MAX_SERVED_TRANSFERS = 16;

// The pipes through which text goes to and comes from other clients, driven from the main
// loop. Nothing here ever waits for the other side: a requestor that stops reading, or an
// owner that stops writing, costs a descriptor until it closes or falls silent, never a
// frozen terminal. The loop polls `poll_fd`, which becomes readable when the display or one
// of the pipes has something to do, and then calls `service`.
class TransferPump {
  public:
    // Called once with what arrived, or with null when the transfer was abandoned.
    using Received = std::function<void(const std::string* text)>;

    explicit TransferPump(int display_fd);
    TransferPump(const TransferPump&) = delete;
    TransferPump& operator=(const TransferPump&) = delete;
    ~TransferPump();

    int poll_fd() const { return epoll_.get(); }

    // Writes `text` to a requestor's pipe, now as far as it takes it, the rest from `service`.
    void serve(UniqueFd fd, std::shared_ptr<const std::string> text);
    // Reads an owner's pipe to its end, keeping at most MAX_PASTE_BYTES (or `limit`). One
    // transfer at a time: false when another is still coming.
    bool receive(UniqueFd fd, Received done, std::size_t limit = MAX_PASTE_BYTES);
    bool receiving() const { return incoming_ != nullptr; }
    std::size_t serving() const { return outgoing_.size(); }

    // Moves every transfer as far as its pipe allows.
    void service();
    // Abandons a paste whose owner has been silent too long.
    void expire(MonoTime now);
    std::optional<MonoTime> next_deadline() const;

  private:
    struct Outgoing {
        UniqueFd fd;
        std::shared_ptr<const std::string> text;
        std::size_t sent = 0;
    };
    struct Incoming {
        UniqueFd fd;
        PasteBuffer buffer;
        MonoTime deadline;
        Received done;
    };

    // Whether the transfer is over (all written, or the requestor gone).
    bool write_some(Outgoing& out);
    // Whether the transfer is over (the end reached, the buffer full, or a read error).
    bool read_some(Incoming& in);
    void finish_incoming(bool delivered);
    void watch(int fd, std::uint32_t events);
    void unwatch(int fd);

    UniqueFd epoll_;
    std::vector<std::unique_ptr<Outgoing>> outgoing_;
    std::unique_ptr<Incoming> incoming_;
};

}  // namespace zelto
