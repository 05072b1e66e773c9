#pragma once

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelto {

// Called for every entry: the key, the value (none for a key without "=") and the line of the
// "=" (or of the end of a key without one).
using ConfigEntryHandler = std::function<void(
    const std::string& key, const std::optional<std::string>& value, unsigned line)>;
// Called for every syntax error with its line; returning true stops the reading.
using ConfigErrorHandler = std::function<bool(unsigned line, const std::string& message)>;
using ListErrorHandler = std::function<void(const std::string& message)>;

// The character-level reader of the configuration file. Text may be fed in pieces of any size;
// entries and errors do not depend on where the pieces end.
class ConfigReader {
  public:
    ConfigReader(ConfigEntryHandler on_entry, ConfigErrorHandler on_error);

    void feed(std::string_view text);
    void finish();
    bool stopped() const { return stopped_; }

  private:
    void feed_char(char c);
    void newline();
    void value_char(char c);
    void escaped_value_char(char c);
    void store(char c);
    void deliver();
    void reset();
    void error(const std::string& message);

    ConfigEntryHandler on_entry_;
    ConfigErrorHandler on_error_;
    std::string key_;
    std::string value_;
    std::string blanks_;
    unsigned line_ = 1;
    unsigned entry_line_ = 1;
    bool in_key_ = true;
    bool in_comment_ = false;
    bool in_quotes_ = false;
    bool escape_pending_ = false;
    bool in_list_ = false;
    bool unquoted_text_ = false;  // the value holds text that was not quoted
    bool pending_cr_ = false;
    bool stopped_ = false;
};

// Reads the whole file in blocks of 8191 bytes.
void read_config(std::FILE* file, const ConfigEntryHandler& on_entry,
                 const ConfigErrorHandler& on_error);

// Splits an option value into its elements: a single string, or a bracketed list
// "[a, "b, c", d\]]". The result has at least one element.
std::vector<std::string> read_list(std::string_view text, const ListErrorHandler& on_error);

}  // namespace zelto
