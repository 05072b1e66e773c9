#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace zelto::test {

// A private Xvfb for one test program: started on the first free display from :90 upward (with
// GLX, RANDR and RENDER, 1024x768x24 at 96 DPI), exported as DISPLAY with Mesa's software GL,
// and stopped by its pid (DISPLAY is then restored).
class XvfbServer {
  public:
    XvfbServer() = default;
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;
    ~XvfbServer() { stop(); }

    // False when no server could be started; `error()` says why. `extra_args` go to Xvfb as
    // they are (such as "-extension", "Composite" for a server without 32-bit visuals).
    bool start(const std::vector<std::string>& extra_args = {});
    void stop();

    const std::string& display_name() const { return display_name_; }
    const std::string& error() const { return error_; }

  private:
    bool try_display(int number, const std::vector<std::string>& extra_args);

    pid_t pid_ = -1;
    std::optional<std::string> previous_display_;
    std::string display_name_;
    std::string error_;
};

}  // namespace zelto::test
