#pragma once

#include <sys/types.h>

#include <string>

namespace zelto::test {

// A private Xvfb for one test program: started on the first free display from :90 upward (with
// GLX, RANDR and RENDER, 1024x768x24 at 96 DPI), exported as DISPLAY with Mesa's software GL,
// and stopped by its pid.
class XvfbServer {
public:
    XvfbServer() = default;
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;
    ~XvfbServer() { stop(); }

    // False when no server could be started; `error()` says why.
    bool start();
    void stop();

    const std::string& display_name() const { return display_name_; }
    const std::string& error() const { return error_; }

private:
    bool try_display(int number);

    pid_t pid_ = -1;
    std::string display_name_;
    std::string error_;
};

}  // namespace zelto::test
