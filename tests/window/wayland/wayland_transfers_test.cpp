// The pipes of clipboard transfers, driven as the main loop drives them: the pump never waits
// for the other side, however it behaves.
#include "window/wayland/wayland_transfers.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <optional>
#include <string>

namespace zelto {
namespace {

struct Pipe {
    Pipe() {
        int ends[2];
        EXPECT_EQ(pipe2(ends, O_CLOEXEC), 0);
        read_end = UniqueFd(ends[0]);
        write_end = UniqueFd(ends[1]);
    }
    UniqueFd read_end;
    UniqueFd write_end;
};

std::string pattern(std::size_t size) {
    std::string text(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        text[i] = static_cast<char>('a' + i % 23);
    }
    return text;
}

bool readable(int fd) {
    pollfd entry{fd, POLLIN, 0};
    return poll(&entry, 1, 0) > 0 && (entry.revents & POLLIN);
}

// What arrived through `receive`, once it ended.
struct Outcome {
    bool done = false;
    std::optional<std::string> text;

    TransferPump::Received recorder() {
        return [this](const std::string* received) {
            done = true;
            if (received) text = *received;
        };
    }
};

class TransferPumpTest : public ::testing::Test {
  protected:
    Pipe display;  // stands for the compositor's connection
    // Outlive the pump, which ends a paste still coming when it goes.
    Outcome outcome;
    Outcome other;
    TransferPump pump{display.read_end.get()};
};

TEST_F(TransferPumpTest, TheLoopWakesForTheDisplayAndForThePipes) {
    EXPECT_FALSE(readable(pump.poll_fd()));
    ASSERT_EQ(write(display.write_end.get(), "x", 1), 1);
    EXPECT_TRUE(readable(pump.poll_fd()));
    char byte;
    ASSERT_EQ(read(display.read_end.get(), &byte, 1), 1);
    EXPECT_FALSE(readable(pump.poll_fd()));

    Pipe owner;
    ASSERT_TRUE(pump.receive(std::move(owner.read_end), outcome.recorder()));
    EXPECT_FALSE(readable(pump.poll_fd()));
    ASSERT_EQ(write(owner.write_end.get(), "hi", 2), 2);
    EXPECT_TRUE(readable(pump.poll_fd()));
}

TEST_F(TransferPumpTest, ASlowRequestorGetsEveryByte) {
    const std::string text = pattern(1 << 20);
    Pipe requestor;
    // Returns at once although the pipe holds far less than the text.
    pump.serve(std::move(requestor.write_end), std::make_shared<const std::string>(text));
    EXPECT_EQ(pump.serving(), 1u);
    fcntl(requestor.read_end.get(), F_SETFL, O_NONBLOCK);
    std::string received;
    char piece[4096];
    for (int round = 0; round < 100000 && received.size() < text.size(); ++round) {
        const ssize_t n = read(requestor.read_end.get(), piece, sizeof piece);
        if (n > 0) received.append(piece, static_cast<std::size_t>(n));
        if (readable(pump.poll_fd())) pump.service();
    }
    EXPECT_EQ(received.size(), text.size());
    EXPECT_TRUE(received == text);
    EXPECT_EQ(pump.serving(), 0u);
    EXPECT_EQ(read(requestor.read_end.get(), piece, sizeof piece), 0) << "the pipe was closed";
}

TEST_F(TransferPumpTest, ARequestorThatStopsReadingAndClosesIsLetGo) {
    Pipe requestor;
    pump.serve(std::move(requestor.write_end),
               std::make_shared<const std::string>(pattern(1 << 20)));
    EXPECT_EQ(pump.serving(), 1u);
    pump.service();  // nothing moves, nothing waits
    EXPECT_EQ(pump.serving(), 1u);
    EXPECT_FALSE(readable(pump.poll_fd())) << "a full pipe does not keep the loop spinning";
    requestor.read_end.reset();
    EXPECT_TRUE(readable(pump.poll_fd()));
    testing::internal::CaptureStderr();
    pump.service();
    EXPECT_NE(testing::internal::GetCapturedStderr().find("could not write to pipe"),
              std::string::npos);
    EXPECT_EQ(pump.serving(), 0u);
}

TEST_F(TransferPumpTest, RequestorsThatNeverReadArePrunedOldestFirst) {
    std::vector<Pipe> requestors(MAX_SERVED_TRANSFERS + 1);
    const auto text = std::make_shared<const std::string>(pattern(1 << 20));
    testing::internal::CaptureStderr();
    for (Pipe& requestor : requestors) {
        pump.serve(std::move(requestor.write_end), text);
    }
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(pump.serving(), MAX_SERVED_TRANSFERS);
    char piece[16];
    fcntl(requestors.front().read_end.get(), F_SETFL, O_NONBLOCK);
    std::size_t drained = 0;
    for (ssize_t n; (n = read(requestors.front().read_end.get(), piece, sizeof piece)) > 0;) {
        drained += static_cast<std::size_t>(n);
    }
    EXPECT_LT(drained, text->size());
    EXPECT_EQ(read(requestors.front().read_end.get(), piece, sizeof piece), 0)
        << "the oldest requestor's pipe was closed";
}

TEST_F(TransferPumpTest, APasteArrivesInPiecesAndEndsWithTheOwnersEnd) {
    Pipe owner;
    ASSERT_TRUE(pump.receive(std::move(owner.read_end), outcome.recorder()));
    ASSERT_EQ(write(owner.write_end.get(), "hello ", 6), 6);
    pump.service();
    EXPECT_FALSE(outcome.done);
    ASSERT_EQ(write(owner.write_end.get(), "world", 5), 5);
    pump.service();
    owner.write_end.reset();
    pump.service();
    ASSERT_TRUE(outcome.done);
    EXPECT_EQ(outcome.text, "hello world");
    EXPECT_FALSE(pump.receiving());
    EXPECT_FALSE(pump.next_deadline());
}

TEST_F(TransferPumpTest, OnePasteAtATime) {
    Pipe first;
    Pipe second;
    ASSERT_TRUE(pump.receive(std::move(first.read_end), outcome.recorder()));
    EXPECT_FALSE(pump.receive(std::move(second.read_end), other.recorder()));
    first.write_end.reset();
    pump.service();
    EXPECT_TRUE(outcome.done);
    EXPECT_FALSE(other.done);
}

TEST_F(TransferPumpTest, APasteBeyondTheLimitKeepsTheLimitAndSaysSo) {
    Pipe owner;
    ASSERT_TRUE(pump.receive(std::move(owner.read_end), outcome.recorder(), 10));
    ASSERT_EQ(write(owner.write_end.get(), "0123456789abcdef", 16), 16);
    testing::internal::CaptureStderr();
    pump.service();
    EXPECT_NE(testing::internal::GetCapturedStderr().find("the rest is dropped"),
              std::string::npos);
    // The owner need not send the rest: the transfer ended without its end.
    ASSERT_TRUE(outcome.done);
    EXPECT_EQ(outcome.text, "0123456789");
    EXPECT_EQ(write(owner.write_end.get(), "x", 1), -1);
    EXPECT_EQ(errno, EPIPE);
}

TEST_F(TransferPumpTest, AnOwnerSilentForTwoSecondsIsAbandoned) {
    Pipe owner;
    const MonoTime start = mono_now();
    ASSERT_TRUE(pump.receive(std::move(owner.read_end), outcome.recorder()));
    ASSERT_TRUE(pump.next_deadline());
    EXPECT_GE(mono_diff_ms(*pump.next_deadline(), start), RECEIVE_SILENCE_MS);
    EXPECT_LE(mono_diff_ms(*pump.next_deadline(), start), RECEIVE_SILENCE_MS + 1000);
    pump.expire(mono_add_ms(start, RECEIVE_SILENCE_MS / 2));
    EXPECT_FALSE(outcome.done);
    ASSERT_EQ(write(owner.write_end.get(), "part", 4), 4);
    pump.service();
    // Each piece gives the owner two more seconds.
    const MonoTime extended = *pump.next_deadline();
    testing::internal::CaptureStderr();
    pump.expire(mono_add_ms(extended, 1));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("abandoned"), std::string::npos);
    ASSERT_TRUE(outcome.done);
    EXPECT_FALSE(outcome.text);
    EXPECT_FALSE(pump.receiving());
}

TEST_F(TransferPumpTest, AnEmptyPasteEndsAtOnce) {
    Pipe owner;
    ASSERT_TRUE(pump.receive(std::move(owner.read_end), outcome.recorder()));
    owner.write_end.reset();
    pump.service();
    ASSERT_TRUE(outcome.done);
    EXPECT_EQ(outcome.text, "");
}

}  // namespace
}  // namespace zelto
