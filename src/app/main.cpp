#include <signal.h>

#include "app/app.hpp"
#include "config/settings.hpp"
#include "fonts/font_resolver.hpp"
#include "fonts/font_set.hpp"
#include "gfx_gl2/gfx_opengl2.hpp"
#include "util/alloc.hpp"
#include "window/wayland/window_wayland.hpp"
#include "window/x11/window_x11.hpp"

int main(int argc, char** argv) {
    zelto::install_out_of_memory_handler();
    // A child or a window-system peer that goes away must not kill the terminal mid-write.
    signal(SIGPIPE, SIG_IGN);

    zelto::settings_init(argc, argv);
    zelto::resolve_fonts(zelto::settings());
    int status = 0;
    {
        zelto::AppBackends backends;
        backends.wayland = zelto::window_wayland_create;
        backends.x11 = zelto::window_x11_create;
        backends.make_fonts = [] { return std::make_unique<zelto::FontSet>(zelto::settings()); };
        backends.make_gfx = [](zelto::FontSet* fonts) -> std::unique_ptr<zelto::Gfx> {
            return std::make_unique<zelto::GfxOpenGL2>(*fonts, zelto::settings());
        };
        zelto::App app(std::move(backends));
        status = app.run();
    }
    zelto::settings_cleanup();
    return status;
}
