#include "app/html_dump.hpp"

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "config/settings.hpp"
#include "terminal/vt.hpp"

namespace zelto {
namespace {

class HtmlDump : public ::testing::Test {
protected:
    void SetUp() override {
        settings() = Settings{};
        settings().font_size = 11;
        settings().bg_color = {0x10, 0x20, 0x30, 0xFF};
        settings().fg_color = {0xE0, 0xE0, 0xE0};
        settings().colors[1] = {0xCC, 0x00, 0x00};
        settings().colors[9] = {0xFF, 0x55, 0x55};
        vt_.emplace(12, 3, callbacks_);
    }

    // Prints `text` at the cursor with the given attributes, then restores the defaults.
    void print(std::string_view text, VtCell attributes) {
        vt_->current_attributes() = attributes;
        vt_->interpret(text);
        vt_->current_attributes() = vt_->blank_cell();
    }

    VtCell plain() const { return vt_->blank_cell(); }

    // The document's body: what stands between <pre> and </pre>.
    std::string body() {
        const std::string doc = html_document(*vt_);
        const std::size_t begin = doc.find("<pre>") + 5;
        return doc.substr(begin, doc.find("</pre>") - begin);
    }

    VtCallbacks callbacks_;
    std::optional<Vt> vt_;
};

TEST_F(HtmlDump, DefaultColoursGiveOnePlainSpanPerLine) {
    vt_->interpret("hello\r\nworld");
    EXPECT_EQ(body(),
              "<span class=\"od\">hello</span>\n"
              "<span class=\"ev\">world</span>\n"
              "<span class=\"od\"></span>");
}

TEST_F(HtmlDump, WholeDocumentFollowsTheFormat) {
    vt_->interpret("a<b");
    const std::string expected =
        "<!DOCTYPE html>\n"
        "<html lang=\"en\">\n"
        "\n"
        "<head>\n"
        "  <meta charset=\"UTF-8\">\n"
        "  <meta name=\"viewport\" content=\"width=device-width,initial-scale=1.0\">\n"
        "  <meta name=\"generator\" content=\"Zelto v0.0.0\">\n"
        "  <title></title>\n"
        "</head>\n"
        "\n"
        "<style>\n"
        "  * {\n"
        "    margin: 0;\n"
        "    padding: 0;\n"
        "  }\n"
        "\n"
        "  .blink {\n"
        "    animation: blink-animation 1.0s linear infinite;\n"
        "  }\n"
        "\n"
        "  @keyframes blink-animation {\n"
        "    0%   { opacity: 0.6; }\n"
        "    10%  { opacity: 0.1; }\n"
        "    35%  { opacity: 0.1; }\n"
        "    65%  { opacity: 1.0; }\n"
        "    90%  { opacity: 1.0; }\n"
        "    100% { opacity: 0.6; }\n"
        "  }\n"
        "\n"
        "  #vt {\n"
        "    float: left;\n"
        "    font-family: Monospace;\n"
        "    font-size: 11;\n"
        "    underline-position: from-font;\n"
        "    background-color: rgb(16, 32, 48);\n"
        "    color: rgb(224, 224, 224);\n"
        "  }\n"
        "</style>\n"
        "\n"
        "<body>\n"
        "  <div id=\"vt\">\n"
        "    <pre><span class=\"od\">a&lt;b</span>\n"
        "<span class=\"ev\"></span>\n"
        "<span class=\"od\"></span></pre>\n"
        "  </div>\n"
        "</body>\n"
        "\n"
        "</html>\n";
    EXPECT_EQ(html_document(*vt_), expected);
}

TEST_F(HtmlDump, BoldRedWordIsOneSpanWithBrightRedAndNoBackground) {
    VtCell bold_red = plain();
    bold_red.font_style = VT_FONT_STYLE_BOLD;
    bold_red.set_fg_index(1);
    vt_->interpret("x ");
    print("red", bold_red);
    vt_->interpret(" y");
    EXPECT_EQ(body().substr(0, body().find('\n')),
              "<span class=\"od\">x </span><span style=\" font-weight: bold; color: rgb(255, 85, "
              "85);\">red</span><span> y</span>");
}

TEST_F(HtmlDump, EveryAttributeHasItsStyle) {
    VtCell styled = plain();
    styled.font_style = VT_FONT_STYLE_BOLD_ITALIC;
    styled.fg[0] = 1;
    styled.fg[1] = 2;
    styled.fg[2] = 3;
    styled.flags &= static_cast<std::uint8_t>(~VT_CELL_FG_IS_PALETTE_INDEX);
    styled.set_bg_index(1);
    styled.decorations = VT_CELL_CURLY_UNDERLINE | VT_CELL_STRIKETHROUGH | VT_CELL_OVERLINE;
    styled.flags |= VT_CELL_BLINKING | VT_CELL_LINE_COLOR_SET;
    styled.line_color[0] = 9;
    styled.line_color[1] = 8;
    styled.line_color[2] = 7;
    print("A", styled);

    VtCell inverse = plain();
    inverse.flags |= VT_CELL_INVERTED;
    inverse.decorations = VT_CELL_DOUBLE_UNDERLINE;
    print("B", inverse);

    VtCell hidden = plain();
    hidden.flags |= VT_CELL_HIDDEN;
    hidden.decorations = VT_CELL_UNDERLINED;
    print("C", hidden);

    EXPECT_EQ(body().substr(0, body().find('\n')),
              "<span class=\"od\"></span><span class=\"blink\" style=\" font-weight: bold; "
              "font-style: italic; background: rgb(204, 0, 0); color: rgb(1, 2, 3); "
              "text-decoration: underline dashed line-through overline rgb(9, 8, 7);\">A"
              "</span><span style=\" background: rgb(224, 224, 224); color: rgb(16, 32, 48); "
              "text-decoration: underline double rgb(16, 32, 48);\">B"
              "</span><span style=\" text-decoration: underline solid rgb(224, 224, 224);\"> "
              "</span>");
}

TEST_F(HtmlDump, WideCharacterIsWrittenOnceAndAnOrphanHalfIsABlank) {
    VtLine& line = vt_->lines()[vt_->screen_top()];
    line.cells.assign(4, plain());
    line.cells[0].code = U'\u4e2d';
    line.cells[1].code = VT_WIDE_CHAR_TAIL;
    line.cells[2].code = VT_WIDE_CHAR_TAIL;  // its left half was overwritten
    line.cells[3].code = U'e';
    line.cells[3].combine[0] = U'\u0301';
    EXPECT_EQ(body().substr(0, body().find('\n')),
              "<span class=\"od\">\xe4\xb8\xad e\xcc\x81</span>");
}

TEST_F(HtmlDump, TitleAndFontNameAreEscapedData) {
    settings().font.push_back({});
    settings().font.back().family = "Mono %s & <Co>";
    vt_->interpret("\x1bk%s%n <b>&\x1b\\");
    ASSERT_EQ(vt_->title(), "%s%n <b>&");
    const std::string doc = html_document(*vt_);
    EXPECT_NE(doc.find("    font-family: Mono %s &amp; &lt;Co&gt;;\n"), std::string::npos);
    EXPECT_NE(doc.find("  <title>%s%n &lt;b&gt;&amp;</title>\n"), std::string::npos);
}

class HtmlDumpFile : public HtmlDump {
protected:
    void SetUp() override {
        HtmlDump::SetUp();
        char pattern[] = "/tmp/zelto-dump-XXXXXX";
        dir_ = mkdtemp(pattern);
        getcwd(previous_, sizeof previous_);
        ASSERT_EQ(chdir(dir_.c_str()), 0);
    }
    void TearDown() override {
        chdir(previous_);
        std::system(("rm -rf " + dir_).c_str());
    }
    std::string dir_;
    char previous_[4096] = {};
};

TEST_F(HtmlDumpFile, WritesTheDocumentAndNeverOverwrites) {
    vt_->interpret("saved");
    const std::string path = html_dump(*vt_);
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path.rfind(dir_ + "/Zelto.", 0), 0u) << path;
    EXPECT_EQ(path.substr(path.size() - 5), ".html");
    std::ifstream in(path);
    std::stringstream content;
    content << in.rdbuf();
    EXPECT_EQ(content.str(), html_document(*vt_));

    // A second dump within the same second finds the file there (try until one falls in the
    // same second as its predecessor).
    ::testing::internal::CaptureStderr();
    for (int i = 0; i < 3 && !html_dump(*vt_).empty(); ++i) {
    }
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("[\x1b[33mwarning\x1b[m] Failed to create screen dump: File exists\n"),
              std::string::npos)
        << err;
}

TEST_F(HtmlDumpFile, FailedWriteWarnsAndLeavesNoPartialFile) {
    vt_->interpret("more than the file may hold");
    int pipe_fds[2];
    ASSERT_EQ(pipe(pipe_fds), 0);
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        // Files may not grow past 100 bytes: the write fails half-way.
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{100, 100};
        setrlimit(RLIMIT_FSIZE, &limit);
        dup2(pipe_fds[1], STDERR_FILENO);
        _exit(html_dump(*vt_).empty() ? 0 : 1);
    }
    close(pipe_fds[1]);
    std::string err;
    char buffer[256];
    for (ssize_t n; (n = read(pipe_fds[0], buffer, sizeof buffer)) > 0;) err.append(buffer, n);
    close(pipe_fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a partial dump reported success";
    EXPECT_EQ(err, "[\x1b[33mwarning\x1b[m] Failed to create screen dump: File too large\n");
    EXPECT_EQ(std::system(("test -z \"$(ls -A " + dir_ + ")\"").c_str()), 0)
        << "the partial file was left behind";
}

}  // namespace
}  // namespace zelto
