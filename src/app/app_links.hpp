#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zelto {

// Why a link's text must not reach the URI handler, or null when it may. The text comes from
// the child's output: it opens only with a scheme that makes a link (or as a "www." host name),
// so it can never be taken for an option, and without control characters.
const char* uri_refusal(std::string_view uri);

// The text for a diagnostic: control characters and bytes beyond ASCII as \xNN, at most
// `limit` bytes of it.
std::string printable_uri(std::string_view uri, std::size_t limit = 200);

}  // namespace zelto
