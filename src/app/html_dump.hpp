#pragma once

#include <string>

namespace zelto {

class Vt;

// The lines shown now, with their colours and attributes, as a self-contained HTML document.
std::string html_document(Vt& vt);

// Writes html_document into "Zelto.<local time>.html" in the working directory, never over an
// existing file. Warns and removes what was written when anything fails; the path on success.
std::string html_dump(Vt& vt);

}  // namespace zelto
