#pragma once

#include <string>
#include <string_view>

namespace zelto {

// A dropped or pasted "text/uri-list" made ready for a command line: the part after "://" of
// every URI, joined by single spaces. Line ends may be CRLF or LF; comment lines ("#...") and
// lines without "://" are skipped. "file:///a/b.txt\r\n" gives "/a/b.txt".
std::string uri_list_to_paths(std::string_view list);

}  // namespace zelto
