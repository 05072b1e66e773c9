#include <signal.h>

#include "app/app.hpp"
#include "config/settings.hpp"
#include "gfx_gl2/gfx_null.hpp"
#include "util/alloc.hpp"
#include "window/x11/window_x11.hpp"

int main(int argc, char** argv) {
    zelto::install_out_of_memory_handler();
    // A child or a window-system peer that goes away must not kill the terminal mid-write.
    signal(SIGPIPE, SIG_IGN);

    zelto::settings_init(argc, argv);
    int status = 0;
    {
        zelto::AppBackends backends;
        backends.x11 = zelto::window_x11_create;
        backends.make_gfx = [] {
            return std::make_unique<zelto::GfxNull>(8, 16, zelto::settings().padding.extra);
        };
        zelto::App app(std::move(backends));
        status = app.run();
    }
    zelto::settings_cleanup();
    return status;
}
