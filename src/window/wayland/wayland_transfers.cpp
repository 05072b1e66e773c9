#include "window/wayland/wayland_transfers.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "util/diagnostics.hpp"

namespace zelto {

namespace {

// Bytes read from an owner's pipe at a time.
constexpr std::size_t READ_PIECE = 64 * 1024;

void set_nonblocking(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0) {
        fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    }
}

void warn_truncated() {
    warn("Pasted text longer than %zu MiB, the rest is dropped\n", MAX_PASTE_BYTES >> 20);
}

}  // namespace

TransferPump::TransferPump(int display_fd) : epoll_(epoll_create1(EPOLL_CLOEXEC)) {
    // A requestor that closes its end early must cost a warning, not the process. Children
    // get the default disposition back when they start.
    signal(SIGPIPE, SIG_IGN);
    if (!epoll_) {
        fatal("epoll_create1 failed %s", std::strerror(errno));
    }
    watch(display_fd, EPOLLIN);
}

// A transfer still coming is abandoned, so that its owner hears of the end.
TransferPump::~TransferPump() {
    if (incoming_) {
        finish_incoming(false);
    }
}

void TransferPump::watch(int fd, std::uint32_t events) {
    epoll_event event{};
    event.events = events;
    event.data.fd = fd;
    if (epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, fd, &event) < 0) {
        fatal("epoll_ctl failed %s", std::strerror(errno));
    }
}

void TransferPump::unwatch(int fd) {
    epoll_ctl(epoll_.get(), EPOLL_CTL_DEL, fd, nullptr);
}

void TransferPump::serve(UniqueFd fd, std::shared_ptr<const std::string> text) {
    set_nonblocking(fd.get());
    auto out = std::make_unique<Outgoing>(Outgoing{std::move(fd), std::move(text), 0});
    if (write_some(*out)) {
        return;
    }
    if (outgoing_.size() >= MAX_SERVED_TRANSFERS) {
        warn("could not write to pipe %s\n", std::strerror(EAGAIN));
        unwatch(outgoing_.front()->fd.get());
        outgoing_.erase(outgoing_.begin());
    }
    watch(out->fd.get(), EPOLLOUT);
    outgoing_.push_back(std::move(out));
}

bool TransferPump::write_some(Outgoing& out) {
    const std::string& text = *out.text;
    while (out.sent < text.size()) {
        const ssize_t n = write(out.fd.get(), text.data() + out.sent, text.size() - out.sent);
        if (n > 0) {
            out.sent += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN) {
            return false;
        } else {
            // Mostly EPIPE: the requestor closed its end before taking everything.
            warn("could not write to pipe %s\n", std::strerror(n < 0 ? errno : EIO));
            return true;
        }
    }
    return true;
}

bool TransferPump::receive(UniqueFd fd, Received done, std::size_t limit) {
    if (incoming_) {
        return false;
    }
    set_nonblocking(fd.get());
    watch(fd.get(), EPOLLIN);
    incoming_ = std::make_unique<Incoming>(Incoming{std::move(fd), PasteBuffer(limit),
                                                    mono_add_ms(mono_now(), RECEIVE_SILENCE_MS),
                                                    std::move(done)});
    return true;
}

bool TransferPump::read_some(Incoming& in) {
    char piece[READ_PIECE];
    for (;;) {
        const ssize_t n = read(in.fd.get(), piece, sizeof piece);
        if (n > 0) {
            in.deadline = mono_add_ms(mono_now(), RECEIVE_SILENCE_MS);
            if (in.buffer.append(std::string_view(piece, static_cast<std::size_t>(n)))) {
                warn_truncated();
            }
            // Whatever more the owner has is not wanted: closing our end tells it so.
            if (in.buffer.full()) {
                if (!in.buffer.truncated() && in.buffer.drop_rest()) {
                    warn_truncated();
                }
                return true;
            }
        } else if (n == 0) {
            return true;
        } else if (errno == EINTR) {
            continue;
        } else if (errno == EAGAIN) {
            return false;
        } else {
            warn("IO error: %s\n", std::strerror(errno));
            return true;
        }
    }
}

void TransferPump::service() {
    for (auto it = outgoing_.begin(); it != outgoing_.end();) {
        if (write_some(**it)) {
            unwatch((*it)->fd.get());
            it = outgoing_.erase(it);
        } else {
            ++it;
        }
    }
    if (incoming_ && read_some(*incoming_)) {
        finish_incoming(true);
    }
}

// The transfer is gone before its owner hears of it: the callback may start the next one.
void TransferPump::finish_incoming(bool delivered) {
    const std::unique_ptr<Incoming> in = std::move(incoming_);
    unwatch(in->fd.get());
    in->fd.reset();
    in->done(delivered ? &in->buffer.text() : nullptr);
}

void TransferPump::expire(MonoTime now) {
    if (incoming_ && now > incoming_->deadline) {
        warn("Clipboard owner sent nothing for %lld ms, the paste is abandoned\n",
             static_cast<long long>(RECEIVE_SILENCE_MS));
        finish_incoming(false);
    }
}

std::optional<MonoTime> TransferPump::next_deadline() const {
    if (!incoming_) {
        return std::nullopt;
    }
    return incoming_->deadline;
}

}  // namespace zelto
