#include "app/timers.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace zelto {
namespace {

MonoTime at(std::int64_t ms) { return mono_add_ms({100, 0}, ms); }

TEST(Easing, MapsTheUnitIntervalAsTabled) {
    EXPECT_DOUBLE_EQ(ease(EASING_LINEAR, 0.25), 0.25);
    EXPECT_DOUBLE_EQ(ease(EASING_REVERSED, 0.25), 0.75);
    EXPECT_DOUBLE_EQ(ease(EASING_TRIANGLE, 0.25), 0.5);
    EXPECT_DOUBLE_EQ(ease(EASING_TRIANGLE, 0.75), 0.5);
    EXPECT_NEAR(ease(EASING_SINE_OUT, 1.0), 1.0, 1e-12);
    EXPECT_NEAR(ease(EASING_COSINE, 0.5), 1.0, 1e-12);
    EXPECT_NEAR(ease(EASING_PULSE, 0.5), 1.0, 1e-12);
    EXPECT_DOUBLE_EQ(ease(EASING_QUADRATIC, 0.5), 0.25);
    EXPECT_DOUBLE_EQ(ease(EASING_QUADRATIC_REVERSED, 0.5), 0.25);
    EXPECT_DOUBLE_EQ(ease(EASING_QUARTIC, 0.5), 0.0625);
    EXPECT_DOUBLE_EQ(ease(EASING_QUARTIC_REVERSED, 0.5), 0.0625);
}

TEST(TimerWait, NothingArmedMeansNothingDueUnlessThereIsAnExtraDeadline) {
    TimerList timers;
    timers.register_timeout([](bool, double) {});
    EXPECT_EQ(timers.next_wait(16, std::nullopt, at(0)), std::nullopt);
    EXPECT_EQ(timers.next_wait(16, at(40), at(0)), 40);
    EXPECT_EQ(timers.next_wait(16, at(-40), at(0)), 0);
}

TEST(TimerWait, EarliestTimeoutWinsOrderedByNanoseconds) {
    TimerList timers;
    const auto a = timers.register_timeout([](bool, double) {});
    const auto b = timers.register_timeout([](bool, double) {});
    timers.arm_timeout(a, 500, at(0));
    timers.arm_timeout(b, 200, MonoTime{100, 300'000});
    // b is due at 100.2003 s; an extra deadline at 100.2002 s is earlier by nanoseconds only.
    // Waits round up to whole milliseconds.
    EXPECT_EQ(timers.next_wait(16, MonoTime{100, 200'200'000}, at(0)), 201);
    EXPECT_EQ(timers.next_wait(16, std::nullopt, at(0)), 201);
    EXPECT_EQ(timers.next_wait(16, MonoTime{100, 200'000'000}, at(0)), 200);
    EXPECT_EQ(timers.next_wait(16, MonoTime{100, 1}, at(0)), 1);
    timers.disarm(b);
    EXPECT_EQ(timers.next_wait(16, std::nullopt, at(0)), 500);
}

TEST(TimerWait, RunningAnimationsArePacedByTheFrameInterval) {
    TimerList timers;
    const auto anim = timers.register_animation(EASING_LINEAR, [](bool, double) {});
    timers.arm_animation(anim, at(0), at(1000));
    timers.set_last_frame(at(90));
    EXPECT_EQ(timers.next_wait(16, std::nullopt, at(100)), 6);
    EXPECT_EQ(timers.next_wait(16, std::nullopt, at(120)), 0);
    // Not started yet: wait for its start. Ended: due at once.
    timers.arm_animation(anim, at(500), at(1000));
    EXPECT_EQ(timers.next_wait(16, std::nullopt, at(100)), 400);
    EXPECT_EQ(timers.next_wait(16, std::nullopt, at(2000)), 0);
}

TEST(TimerRun, TimeoutsFireOnceAfterTheirDueTimeAndMayRearm) {
    TimerList timers;
    int fired = 0;
    TimerList::Index index = 0;
    index = timers.register_timeout([&](bool, double) {
        if (++fired < 3) timers.arm_timeout(index, 10, at(fired * 10));
    });
    timers.arm_timeout(index, 10, at(0));
    timers.run_due(at(10));
    EXPECT_EQ(fired, 0) << "due, but not yet later than due";
    timers.run_due(at(11));
    EXPECT_EQ(fired, 1);
    timers.run_due(at(11));
    EXPECT_EQ(fired, 1);
    timers.run_due(at(21));
    timers.run_due(at(31));
    timers.run_due(at(41));
    EXPECT_EQ(fired, 3);
    EXPECT_FALSE(timers.is_armed(index));
}

TEST(TimerRun, AnimationsGetEasedFractionsThenFinishWithOne) {
    TimerList timers;
    std::vector<std::pair<bool, double>> calls;
    const auto anim = timers.register_animation(
        EASING_QUADRATIC, [&](bool finished, double t) { calls.emplace_back(finished, t); });
    timers.arm_animation(anim, at(100), at(200));
    timers.run_due(at(50));
    timers.run_due(at(150));
    timers.run_due(at(201));
    timers.run_due(at(300));
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_FALSE(calls[0].first);
    EXPECT_NEAR(calls[0].second, 0.25, 1e-6);
    EXPECT_TRUE(calls[1].first);
    EXPECT_EQ(calls[1].second, 1.0);
}

}  // namespace
}  // namespace zelto
