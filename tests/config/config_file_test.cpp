#include "config/config_file.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace zelto {
namespace {

struct Entry {
    std::string key;
    std::optional<std::string> value;
    unsigned line;
    friend bool operator==(const Entry&, const Entry&) = default;
};

void PrintTo(const Entry& e, std::ostream* os) {
    *os << "{" << e.key << ", " << (e.value ? "'" + *e.value + "'" : "none") << ", " << e.line
        << "}";
}

struct Parsed {
    std::vector<Entry> entries;
    std::vector<std::string> errors;  // "line: message"
};

ConfigEntryHandler collect_entries(Parsed& out) {
    return [&out](const std::string& key, const std::optional<std::string>& value, unsigned line) {
        out.entries.push_back({key, value, line});
    };
}

ConfigErrorHandler collect_errors(Parsed& out) {
    return [&out](unsigned line, const std::string& message) {
        out.errors.push_back(std::to_string(line) + ": " + message);
        return false;
    };
}

// Feeds the text in pieces of `piece` bytes, which must not change the result.
Parsed parse(std::string_view text, std::size_t piece = 0) {
    Parsed out;
    ConfigReader reader(collect_entries(out), collect_errors(out));
    if (piece == 0) piece = text.size() + 1;
    for (std::size_t i = 0; i < text.size(); i += piece) reader.feed(text.substr(i, piece));
    reader.finish();
    return out;
}

Parsed parse_file(const std::string& text) {
    Parsed out;
    std::FILE* f = std::tmpfile();
    std::fwrite(text.data(), 1, text.size(), f);
    std::rewind(f);
    read_config(f, collect_entries(out), collect_errors(out));
    std::fclose(f);
    return out;
}

using Entries = std::vector<Entry>;
using Errors = std::vector<std::string>;

TEST(ConfigReader, KeysValuesCommentsAndBlanks) {
    auto p = parse(
        "# a comment line\n"
        "title = Term # comment\n"
        "  font size = 12\n"
        "hold\n"
        "\n"
        "term=\t xterm  kitty \t\n"
        "empty =\n"
        "rows = 3#4\n");
    EXPECT_EQ(p.entries, (Entries{{"title", "Term", 2},
                                  {"fontsize", "12", 3},
                                  {"hold", std::nullopt, 4},
                                  {"term", "xterm  kitty", 6},
                                  {"empty", "", 7},
                                  {"rows", "3", 8}}));
    EXPECT_TRUE(p.errors.empty());
}

TEST(ConfigReader, QuotesKeepBlanksAndHash) {
    auto p = parse(
        "title = \"  a # b  \"\n"
        "title = \"x\" \"y\"\n"
        "title = \"say \\\"hi\\\"\"\n"
        "title = \"[a]\"\n"
        "title = abc \"def\"\n"
        "title = \"open\n"
        "next = 1\n");
    EXPECT_EQ(p.entries, (Entries{{"title", "  a # b  ", 1},
                                  {"title", "x y", 2},
                                  {"title", "say \"hi\"", 3},
                                  {"title", "\\[a\\]", 4},
                                  {"title", "def", 5},
                                  {"title", "open", 6},
                                  {"next", "1", 7}}));
    EXPECT_EQ(p.errors, (Errors{"5: unexpected token 'abc' before '\"'",
                                "6: '\"' expected before end of line"}));
}

TEST(ConfigReader, Escapes) {
    auto p = parse(
        "a = one\\ntwo\n"
        "b = \\[x\\]\n"
        "c = x\\qy\n"
        "d = \\\"\n");
    EXPECT_EQ(p.entries,
              (Entries{{"a", "one\ntwo", 1}, {"b", "\\[x\\]", 2}, {"c", "xy", 3}, {"d", "", 4}}));
    EXPECT_EQ(p.errors, (Errors{"3: escape character 'q' invalid in this context",
                                "4: escape character '\"' invalid in this context"}));
}

TEST(ConfigReader, ListsSpanLinesWithCommentsInside) {
    auto p = parse(
        "font = [Fira Code, Noto Sans Mono]\n"
        "# comment\n"
        "font = [\n"
        "   A, # first\n"
        "   B]\n"
        "font-symbol = [\"q, \\\"x\", y\\,z]\n"
        "after = 1\n");
    EXPECT_EQ(p.entries, (Entries{{"font", "[Fira Code, Noto Sans Mono]", 1},
                                  {"font", "[    A,     B]", 3},
                                  {"font-symbol", "[\"q, \\\"x\", y\\,z]", 6},
                                  {"after", "1", 7}}));
    EXPECT_TRUE(p.errors.empty());
}

TEST(ConfigReader, BracketErrors) {
    auto p = parse(
        "a = [x, [y]]\n"
        "b = x]\n"
        "c = [open\n");
    EXPECT_EQ(p.entries, (Entries{{"a", "[x, [y]", 1}, {"b", "x", 2}, {"c", "[open", 3}}));
    EXPECT_EQ(p.errors, (Errors{"1: list element cannot be a list, did you mean '\\[' ?",
                                "1: '[' expected before ']' did you mean '\\]' ?",
                                "2: '[' expected before ']' did you mean '\\]' ?",
                                "4: ']' expected before end of file"}));
}

TEST(ConfigReader, EndOfFile) {
    EXPECT_EQ(parse("hold").entries, (Entries{{"hold", std::nullopt, 1}}));
    EXPECT_EQ(parse("\n\nrows = 5").entries, (Entries{{"rows", "5", 3}}));
    auto p = parse("title = \"abc");
    EXPECT_EQ(p.entries, (Entries{{"title", "abc", 1}}));
    EXPECT_EQ(p.errors, (Errors{"1: '\"' expected before end of file"}));
    EXPECT_TRUE(parse("").entries.empty());
    EXPECT_TRUE(parse("# only a comment").entries.empty());
}

TEST(ConfigReader, CrlfLineEnds) {
    auto p = parse("title = Term\r\nfont = [A,\r\n B]\r\nhold\r\nx = \"q\"\r\n");
    EXPECT_EQ(p.entries, (Entries{{"title", "Term", 1},
                                  {"font", "[A,  B]", 2},
                                  {"hold", std::nullopt, 4},
                                  {"x", "q", 5}}));
    EXPECT_TRUE(p.errors.empty());
    EXPECT_EQ(parse("title = a\rb\n").entries, (Entries{{"title", "a\rb", 1}}));
}

TEST(ConfigReader, PiecesOfAnySizeGiveTheSameResult) {
    std::string text =
        "title = \"a b\" # c\r\nfont = [\n x,\n \"y]\" ]\nbad = \\q\nhold\nterm = \"open";
    auto whole = parse(text);
    for (std::size_t piece : {1u, 2u, 3u, 7u}) {
        auto p = parse(text, piece);
        EXPECT_EQ(p.entries, whole.entries) << piece;
        EXPECT_EQ(p.errors, whole.errors) << piece;
    }
}

TEST(ReadConfig, TokenStraddlingTheBlockBoundary) {
    // The first block holds 8191 bytes: put the key and the value across its end.
    std::string filler = "#" + std::string(8191 - 1 - 1 - 6, 'x') + "\n";  // comment line
    std::string text = filler + "title = straddle\n" + "a = \"q\r\n";
    ASSERT_LT(filler.size(), 8191u);
    ASSERT_GT(filler.size() + 10, 8191u);
    auto p = parse_file(text + "[crlf across\r");
    EXPECT_EQ(p.entries,
              (Entries{{"title", "straddle", 2}, {"a", "q", 3}, {"[crlfacross", std::nullopt, 4}}));
    EXPECT_EQ(p.errors, (Errors{"3: '\"' expected before end of line"}));

    for (std::size_t shift = 0; shift < 20; ++shift) {
        std::string lead(shift, '\n');
        auto q = parse_file(lead + std::string(8180, ' ') + "term = \"a b\"\\nc\n");
        ASSERT_EQ(q.entries.size(), 1u);
        EXPECT_EQ(q.entries[0].value, "a b\nc") << shift;
    }
}

TEST(ReadConfig, ErrorHandlerCanStopTheReading) {
    Parsed out;
    ConfigReader reader(collect_entries(out), [&](unsigned, const std::string&) { return true; });
    reader.feed("a = \\q\nb = 1\n");
    reader.finish();
    EXPECT_TRUE(reader.stopped());
    EXPECT_TRUE(out.entries.empty());
}

std::vector<std::string> list(std::string_view text, Errors* errors = nullptr) {
    return read_list(text, [errors](const std::string& m) {
        if (errors) errors->push_back(m);
    });
}

using Strings = std::vector<std::string>;

TEST(ReadList, SingleStringsAndLists) {
    EXPECT_EQ(list(""), Strings{""});
    EXPECT_EQ(list("Fira Code"), Strings{"Fira Code"});
    EXPECT_EQ(list("a\\[b\\]\\\\c"), Strings{"a[b]\\c"});
    EXPECT_EQ(list("[Fira Code, Noto Sans Mono]"), (Strings{"Fira Code", "Noto Sans Mono"}));
    EXPECT_EQ(list("[ A ,  B ]"), (Strings{"A", "B"}));
    EXPECT_EQ(list("[\"a, b \", c\\,d, \\]]"), (Strings{"a, b ", "c,d", "]"}));
    EXPECT_EQ(list("[a,,b]"), (Strings{"a", "", "b"}));
    EXPECT_EQ(list("pre[x, y]"), (Strings{"x", "y"}));
}

TEST(ReadList, Errors) {
    Errors errors;
    EXPECT_EQ(list("[a, b", &errors), (Strings{"a", "b"}));
    EXPECT_EQ(errors, Errors{"list not terminated in '[a, b'"});

    errors.clear();
    EXPECT_EQ(list("[a, \"b", &errors), (Strings{"a", "b"}));
    EXPECT_EQ(errors, (Errors{"list not terminated in '[a, \"b'",
                              "string not terminated in linst '[a, \"b'"}));

    errors.clear();
    EXPECT_EQ(list("[Fira Code]", &errors), Strings{"Fira Code"});
    EXPECT_EQ(errors,
              Errors{"'[Fira Code]' is a single element list, did you mean '\\[Fira Code\\]'?"});

    errors.clear();
    list("[a, \"b]\"", &errors);
    EXPECT_EQ(errors, (Errors{"list not terminated in '[a, \"b]\"'"}));

    errors.clear();
    list("[a, \"b]", &errors);
    EXPECT_EQ(errors.size(), 2u);
}

}  // namespace
}  // namespace zelto

namespace zelto {
namespace {

// Every config line is untrusted: arbitrary bytes read without crashing, in any pieces.
TEST(ConfigReader, SurvivesArbitraryBytes) {
    const char alphabet[] = "ab=#\"\\[],: \t\r\n\x01\xff";
    std::uint32_t seed = 99;
    auto next = [&seed] {
        seed = seed * 1103515245 + 12345;
        return seed >> 16;
    };
    for (int i = 0; i < 2000; ++i) {
        std::string text;
        std::size_t length = next() % 64;
        for (std::size_t k = 0; k < length; ++k) text += alphabet[next() % (sizeof alphabet - 1)];
        auto whole = parse(text);
        auto pieces = parse(text, 1 + next() % 5);
        EXPECT_EQ(whole.entries, pieces.entries) << text;
        EXPECT_EQ(whole.errors, pieces.errors) << text;
        for (const auto& e : whole.entries) {
            if (e.value) (void)read_list(*e.value, [](const std::string&) {});
        }
    }
}

}  // namespace
}  // namespace zelto
