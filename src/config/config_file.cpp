#include "config/config_file.hpp"

#include <array>

#include "util/format.hpp"

namespace zelto {

namespace {

constexpr std::size_t BLOCK_SIZE = 8191;

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}
bool is_control(char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
}

}  // namespace

ConfigReader::ConfigReader(ConfigEntryHandler on_entry, ConfigErrorHandler on_error)
    : on_entry_(std::move(on_entry)), on_error_(std::move(on_error)) {}

void ConfigReader::feed(std::string_view text) {
    for (char c : text) {
        if (stopped_) return;
        // The carriage return of a CRLF line end is not part of the line.
        if (pending_cr_) {
            pending_cr_ = false;
            if (c != '\n') feed_char('\r');
        }
        if (c == '\r') {
            pending_cr_ = true;
            continue;
        }
        feed_char(c);
    }
}

void ConfigReader::error(const std::string& message) {
    if (on_error_ && on_error_(line_, message)) stopped_ = true;
}

void ConfigReader::reset() {
    key_.clear();
    value_.clear();
    blanks_.clear();
    in_key_ = true;
    in_comment_ = false;
    in_quotes_ = false;
    escape_pending_ = false;
    in_list_ = false;
    unquoted_text_ = false;
}

void ConfigReader::deliver() {
    if (!on_entry_) return;
    if (in_key_) {
        on_entry_(key_, std::nullopt, entry_line_);
    } else {
        on_entry_(key_, value_, entry_line_);
    }
}

void ConfigReader::newline() {
    unsigned ended = line_++;
    if (in_key_) {
        if (!key_.empty()) {
            entry_line_ = ended;
            deliver();
        }
        reset();
        return;
    }
    if (in_list_) {
        in_comment_ = false;
        escape_pending_ = false;
        if (!value_.empty()) blanks_ += ' ';
        return;
    }
    bool quotes_open = in_quotes_;
    deliver();
    reset();
    if (quotes_open) {
        --line_;
        error("'\"' expected before end of line");
        ++line_;
    }
}

void ConfigReader::store(char c) {
    if (!value_.empty()) value_ += blanks_;
    blanks_.clear();
    value_ += c;
}

void ConfigReader::escaped_value_char(char c) {
    escape_pending_ = false;
    if (in_list_) {
        store(c);
        return;
    }
    switch (c) {
        case 'n':
            store('\n');
            break;
        case '"':
            if (in_quotes_) {
                store('"');
            } else {
                error(format_string("escape character '%c' invalid in this context", c));
            }
            break;
        case '[':
        case ']':
            store('\\');
            value_ += c;
            break;
        default:
            error(format_string("escape character '%c' invalid in this context", c));
            break;
    }
    if (!in_quotes_) unquoted_text_ = true;
}

void ConfigReader::value_char(char c) {
    if (escape_pending_) {
        escaped_value_char(c);
        return;
    }
    if (c == '\\') {
        if (in_list_) store('\\');
        escape_pending_ = true;
        return;
    }
    if (c == '"') {
        if (in_list_) {
            store('"');
        } else if (!in_quotes_ && unquoted_text_) {
            error(format_string("unexpected token '%s' before '\"'", value_.c_str()));
            value_.clear();
            blanks_.clear();
            unquoted_text_ = false;
        }
        in_quotes_ = !in_quotes_;
        return;
    }
    if (in_quotes_) {
        if (c == '[' || c == ']') {
            store('\\');
            value_ += c;
        } else {
            store(c);
        }
        return;
    }
    if (is_blank(c)) {
        if (!value_.empty()) blanks_ += c;
        return;
    }
    if (c == '[') {
        if (in_list_) error("list element cannot be a list, did you mean '\\[' ?");
        in_list_ = true;
        store('[');
        unquoted_text_ = true;
        return;
    }
    if (c == ']') {
        if (!in_list_) {
            error("'[' expected before ']' did you mean '\\]' ?");
            return;
        }
        in_list_ = false;
        store(']');
        return;
    }
    store(c);
    unquoted_text_ = true;
}

void ConfigReader::feed_char(char c) {
    if (c == '\n') {
        newline();
        return;
    }
    if (in_comment_) return;
    if (c == '#' && !escape_pending_ && !in_quotes_) {
        in_comment_ = true;
        return;
    }
    if (in_key_) {
        if (c == '=') {
            in_key_ = false;
            entry_line_ = line_;
        } else if (!is_blank(c) && !is_control(c)) {
            key_ += c;
        }
        return;
    }
    value_char(c);
}

void ConfigReader::finish() {
    if (stopped_) return;
    pending_cr_ = false;
    if (!in_key_ || !key_.empty()) {
        if (in_key_) entry_line_ = line_;
        bool quotes_open = in_quotes_;
        bool list_open = in_list_;
        deliver();
        reset();
        if (quotes_open) error("'\"' expected before end of file");
        if (list_open && !stopped_) error("']' expected before end of file");
    }
    reset();
}

void read_config(std::FILE* file, const ConfigEntryHandler& on_entry,
                 const ConfigErrorHandler& on_error) {
    ConfigReader reader(on_entry, on_error);
    std::array<char, BLOCK_SIZE> block;
    while (!reader.stopped()) {
        std::size_t n = std::fread(block.data(), 1, block.size(), file);
        if (n == 0) break;
        reader.feed(std::string_view(block.data(), n));
    }
    reader.finish();
}

namespace {

// Reads the bracketed list that starts at text[0] == '['.
std::vector<std::string> read_bracketed(std::string_view text, std::string_view whole,
                                        const ListErrorHandler& on_error) {
    std::vector<std::string> elements;
    std::string element;
    std::size_t kept = 0;  // length of `element` without trailing unquoted blanks
    bool in_quotes = false;
    bool terminated = false;
    bool at_start = true;
    auto push = [&] {
        element.resize(kept);
        elements.push_back(std::move(element));
        element.clear();
        kept = 0;
        at_start = true;
    };
    for (std::size_t i = 1; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\\' && i + 1 < text.size()) {
            element += text[++i];
            kept = element.size();
            at_start = false;
        } else if (c == '"') {
            in_quotes = !in_quotes;
            at_start = false;
        } else if (in_quotes) {
            element += c;
            kept = element.size();
        } else if (c == ',') {
            push();
        } else if (c == ']') {
            terminated = true;
            break;
        } else if (is_blank(c)) {
            if (!at_start) element += c;
        } else {
            element += c;
            kept = element.size();
            at_start = false;
        }
    }
    push();
    if (!terminated) {
        on_error(format_string("list not terminated in '%.*s'", static_cast<int>(whole.size()),
                               whole.data()));
        if (in_quotes)
            on_error(format_string("string not terminated in linst '%.*s'",
                                   static_cast<int>(whole.size()), whole.data()));
    } else if (in_quotes) {
        on_error(format_string("string not terminated in linst '%.*s'",
                               static_cast<int>(whole.size()), whole.data()));
    } else if (elements.size() == 1) {
        on_error(format_string("'%.*s' is a single element list, did you mean '\\[%s\\]'?",
                               static_cast<int>(whole.size()), whole.data(), elements[0].c_str()));
    }
    return elements;
}

}  // namespace

std::vector<std::string> read_list(std::string_view text, const ListErrorHandler& on_error) {
    if (text.empty() || text.front() == '[') {
        if (text.empty()) return {std::string()};
        return read_bracketed(text, text, on_error);
    }
    std::string element;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\') {
            if (i + 1 < text.size()) element += text[++i];
        } else if (text[i] == '[') {
            return read_bracketed(text.substr(i), text, on_error);
        } else {
            element += text[i];
        }
    }
    return {element};
}

}  // namespace zelto
