#include <sys/wait.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "util/base64.hpp"
#include "util/format.hpp"
#include "util/mono_time.hpp"

namespace zelto {
namespace {

std::string decode(std::string_view text) {
    std::vector<std::uint8_t> out(base64_decoded_capacity(text.size()) + 3);
    const std::size_t n = base64_decode(text, out.data());
    return {reinterpret_cast<const char*>(out.data()), n};
}

TEST(Base64, DecodesWholeAndPaddedGroups) {
    EXPECT_EQ(decode("aGVsbG8gd29ybGQh"), "hello world!");
    EXPECT_EQ(decode("YQ=="), "a");
    EXPECT_EQ(decode("YWI="), "ab");
    EXPECT_EQ(decode("YWJj"), "abc");
    EXPECT_EQ(decode(""), "");
}

TEST(Base64, StopsAfterPaddingAndAtForeignCharacters) {
    EXPECT_EQ(decode("YQ==YWJj"), "a");
    EXPECT_EQ(decode("YWJj YWJj"), "abc");
    EXPECT_EQ(decode("YWJjYW Jj"), "abca");  // the blank ends the second group
    EXPECT_EQ(decode("YWJj\xc3\xa9YWJj"), "abc");
    EXPECT_EQ(decode("-YWJj"), "");
}

TEST(Base64, TruncatedTextYieldsWhatItsGroupsHold) {
    EXPECT_EQ(decode("YWJjZA"), "abcd");
    EXPECT_EQ(decode("YWJjZGU"), "abcde");
    EXPECT_EQ(decode("YWJjZ"), "abc");
    EXPECT_EQ(decode("="), "");
}

TEST(Base64, AllByteValuesRoundTrip) {
    // "AAECAwQF...": the 256 byte values encoded by a standard encoder.
    std::string expected;
    for (int i = 0; i < 256; ++i) expected.push_back(static_cast<char>(i));
    static const char table[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string encoded;
    for (std::size_t i = 0; i < expected.size(); i += 3) {
        std::uint32_t v = static_cast<std::uint8_t>(expected[i]) << 16;
        if (i + 1 < expected.size()) v |= static_cast<std::uint8_t>(expected[i + 1]) << 8;
        if (i + 2 < expected.size()) v |= static_cast<std::uint8_t>(expected[i + 2]);
        encoded += table[v >> 18 & 63];
        encoded += table[v >> 12 & 63];
        encoded += i + 1 < expected.size() ? table[v >> 6 & 63] : '=';
        encoded += i + 2 < expected.size() ? table[v & 63] : '=';
    }
    EXPECT_EQ(decode(encoded), expected);
}

TEST(MonoTime, AddingMillisecondsCarriesIntoSeconds) {
    EXPECT_EQ(mono_add_ms({5, 500'000'000}, 999), (MonoTime{6, 499'000'000}));
    EXPECT_EQ(mono_add_ms({5, 0}, 2500), (MonoTime{7, 500'000'000}));
    EXPECT_EQ(mono_add_ms({0, 999'999'999}, 0), (MonoTime{0, 999'999'999}));
}

TEST(MonoTime, DifferencesBorrowAndTruncateTowardZero) {
    EXPECT_EQ(mono_diff_ns({6, 100}, {5, 200}), 999'999'900);
    EXPECT_EQ(mono_diff_ms({6, 100}, {5, 200}), 999);
    EXPECT_EQ(mono_diff_ms({5, 200}, {6, 100}), -999);
    EXPECT_EQ(mono_diff_ms({5, 0}, {5, 0}), 0);
}

TEST(MonoTime, OrdersBySecondsThenNanoseconds) {
    EXPECT_LT((MonoTime{1, 999'999'999}), (MonoTime{2, 0}));
    EXPECT_LT((MonoTime{2, 1}), (MonoTime{2, 2}));
    const MonoTime a = mono_now();
    EXPECT_LE(a, mono_now());
}

TEST(FormatString, FormatsIntoAnOwnedString) {
    EXPECT_EQ(format_string("%s/%s.%d", "dir", "name", 42), "dir/name.42");
    EXPECT_EQ(format_string("%s", ""), "");
    EXPECT_EQ(format_string("%0300d", 7).size(), 300u);
}

// The sanitizer runtime answers failed allocations itself, so the allocation policy is checked
// in a probe built without it.
std::pair<std::string, int> run_probe(const char* mode) {
    const std::string command = std::string(OOM_PROBE) + " " + mode + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    std::string output;
    char buffer[256];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        output.append(buffer, n);
    }
    const int status = pclose(pipe);
    return {output, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

TEST(OutOfMemory, EachAllocationReportsItsOwnTextAndExitsWithOne) {
    const std::pair<const char*, const char*> cases[] = {
        {"malloc", "[\x1b[31merror\x1b[m] out of memory: malloc(4611686018427387904)\n"},
        {"calloc", "[\x1b[31merror\x1b[m] out of memory: realloc(4611686018427387904, 4)\n"},
        {"realloc", "[\x1b[31merror\x1b[m] out of memory\n"},
        {"new", "[\x1b[31merror\x1b[m] out of memory\n"},
    };
    for (auto [mode, expected] : cases) {
        auto [output, status] = run_probe(mode);
        EXPECT_EQ(output, expected) << mode;
        EXPECT_EQ(status, 1) << mode;
    }
}

}  // namespace
}  // namespace zelto
