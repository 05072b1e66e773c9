#include "window/uri_list.hpp"

namespace zelto {

std::string uri_list_to_paths(std::string_view list) {
    std::string paths;
    while (!list.empty()) {
        const std::size_t end = list.find('\n');
        std::string_view line = list.substr(0, end);
        list.remove_prefix(end == std::string_view::npos ? list.size() : end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        const std::size_t scheme_end = line.find("://");
        if (line.starts_with('#') || scheme_end == std::string_view::npos) {
            continue;
        }
        const std::string_view path = line.substr(scheme_end + 3);
        if (path.empty()) {
            continue;
        }
        if (!paths.empty()) {
            paths += ' ';
        }
        paths += path;
    }
    return paths;
}

}  // namespace zelto
