#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "terminal/vt_callbacks.hpp"

namespace zelto {

// The terminal state. For now it only keeps what the program printed and what is queued for it.
class Vt {
public:
    Vt(std::uint32_t cols, std::uint32_t rows, VtCallbacks& callbacks);

    void set_pty_fd(int fd) { pty_fd_ = fd; }
    void resize(std::uint32_t cols, std::uint32_t rows);

    // Everything the child printed goes through here, in chunks that may end anywhere.
    void interpret(std::string_view bytes);

    // The bytes queued for the child: at most `maximum` from the front.
    std::string_view pending_output(std::size_t maximum) const;
    void consume_output(std::size_t count);
    void queue_output(std::string_view bytes);
    bool has_pending_output() const { return output_front_ < output_.size(); }

    bool in_synchronized_update() const { return false; }

    std::uint32_t cols() const { return cols_; }
    std::uint32_t rows() const { return rows_; }
    const std::string& received() const { return received_; }

private:
    VtCallbacks& callbacks_;
    std::uint32_t cols_;
    std::uint32_t rows_;
    int pty_fd_ = -1;
    std::string received_;
    std::string output_;
    std::size_t output_front_ = 0;
};

}  // namespace zelto
