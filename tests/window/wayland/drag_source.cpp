// A client that drags text onto whatever lies under the seat's pointer, as a file manager drags
// files: it maps a window, starts a drag with the first button press on it, and serves its text
// to the drop target.
//   drag_source MIME TEXT STATUS_FILE
// STATUS_FILE receives "ready" once the window is mapped, "dragging" once the drag started, and
// then "finished" (the target took the drop) or "cancelled".
// With the MIME "silent-copy", the press instead sets the clipboard to an offer of "text/plain"
// whose data never comes: each requestor's pipe is kept open and nothing is written ("copied"
// once set, "asked" at each request; it runs until another client takes the clipboard).
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "xdg-shell-client-protocol.h"

namespace {

struct Client {
    wl_compositor* compositor = nullptr;
    wl_shm* shm = nullptr;
    wl_seat* seat = nullptr;
    xdg_wm_base* wm_base = nullptr;
    wl_data_device_manager* manager = nullptr;
    wl_data_device* device = nullptr;
    wl_pointer* pointer = nullptr;
    wl_surface* surface = nullptr;
    std::int32_t width = 0;
    std::int32_t height = 0;
    bool configured = false;
    bool dragging = false;
    bool done = false;
    std::string mime;
    std::string text;
    std::string status_path;
    std::vector<int> unanswered;  // requestors' pipes of the silent copy

    void status(const char* line) const {
        std::ofstream(status_path, std::ios::app) << line << "\n";
    }
};

void on_global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
               std::uint32_t) {
    auto* c = static_cast<Client*>(data);
    const std::string iface = interface;
    if (iface == wl_compositor_interface.name) {
        c->compositor = static_cast<wl_compositor*>(
            wl_registry_bind(registry, name, &wl_compositor_interface, 4));
    } else if (iface == wl_shm_interface.name) {
        c->shm = static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
    } else if (iface == wl_seat_interface.name && !c->seat) {
        c->seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 5));
    } else if (iface == xdg_wm_base_interface.name) {
        c->wm_base =
            static_cast<xdg_wm_base*>(wl_registry_bind(registry, name, &xdg_wm_base_interface, 1));
    } else if (iface == wl_data_device_manager_interface.name) {
        c->manager = static_cast<wl_data_device_manager*>(
            wl_registry_bind(registry, name, &wl_data_device_manager_interface, 3));
    }
}

const wl_registry_listener REGISTRY = {on_global, [](void*, wl_registry*, std::uint32_t) {}};

const xdg_wm_base_listener WM_BASE = {
    [](void*, xdg_wm_base* base, std::uint32_t serial) { xdg_wm_base_pong(base, serial); },
};

const xdg_toplevel_listener TOPLEVEL = {
    [](void* data, xdg_toplevel*, std::int32_t width, std::int32_t height, wl_array*) {
        auto* c = static_cast<Client*>(data);
        if (width > 0 && height > 0) {
            c->width = width;
            c->height = height;
        }
    },
    [](void*, xdg_toplevel*) {},
    [](void*, xdg_toplevel*, std::int32_t, std::int32_t) {},
    [](void*, xdg_toplevel*, wl_array*) {},
};

const xdg_surface_listener XDG_SURFACE = {
    [](void* data, xdg_surface* surface, std::uint32_t serial) {
        xdg_surface_ack_configure(surface, serial);
        static_cast<Client*>(data)->configured = true;
    },
};

const wl_data_source_listener SOURCE = {
    [](void*, wl_data_source*, const char*) {},
    [](void* data, wl_data_source*, const char*, int fd) {
        const std::string& text = static_cast<Client*>(data)->text;
        if (write(fd, text.data(), text.size()) < 0) {
            std::perror("write");
        }
        close(fd);
    },
    [](void* data, wl_data_source*) {
        auto* c = static_cast<Client*>(data);
        c->status("cancelled");
        c->done = true;
    },
    [](void*, wl_data_source*) {},
    [](void* data, wl_data_source*) {
        auto* c = static_cast<Client*>(data);
        c->status("finished");
        c->done = true;
    },
    [](void*, wl_data_source*, std::uint32_t) {},
};

const wl_data_source_listener SILENT_SOURCE = {
    [](void*, wl_data_source*, const char*) {},
    [](void* data, wl_data_source*, const char*, int fd) {
        auto* c = static_cast<Client*>(data);
        c->unanswered.push_back(fd);
        c->status("asked");
    },
    [](void* data, wl_data_source*) {
        auto* c = static_cast<Client*>(data);
        c->status("cancelled");
        c->done = true;
    },
    [](void*, wl_data_source*) {},
    [](void*, wl_data_source*) {},
    [](void*, wl_data_source*, std::uint32_t) {},
};

void copy_silently(Client* c, std::uint32_t serial) {
    wl_data_source* source = wl_data_device_manager_create_data_source(c->manager);
    wl_data_source_add_listener(source, &SILENT_SOURCE, c);
    wl_data_source_offer(source, "text/plain");
    wl_data_device_set_selection(c->device, source, serial);
    c->dragging = true;
    c->status("copied");
}

void start_drag(Client* c, std::uint32_t serial) {
    wl_data_source* source = wl_data_device_manager_create_data_source(c->manager);
    wl_data_source_add_listener(source, &SOURCE, c);
    wl_data_source_offer(source, c->mime.c_str());
    wl_data_source_set_actions(source, WL_DATA_DEVICE_MANAGER_DND_ACTION_COPY);
    wl_data_device_start_drag(c->device, source, c->surface, nullptr, serial);
    c->dragging = true;
    c->status("dragging");
}

const wl_pointer_listener POINTER = {
    [](void*, wl_pointer*, std::uint32_t, wl_surface*, wl_fixed_t, wl_fixed_t) {},
    [](void*, wl_pointer*, std::uint32_t, wl_surface*) {},
    [](void*, wl_pointer*, std::uint32_t, wl_fixed_t, wl_fixed_t) {},
    [](void* data, wl_pointer*, std::uint32_t serial, std::uint32_t, std::uint32_t,
       std::uint32_t state) {
        auto* c = static_cast<Client*>(data);
        if (state == WL_POINTER_BUTTON_STATE_PRESSED && !c->dragging) {
            if (c->mime == "silent-copy") {
                copy_silently(c, serial);
            } else {
                start_drag(c, serial);
            }
        }
    },
    [](void*, wl_pointer*, std::uint32_t, std::uint32_t, wl_fixed_t) {},
    [](void*, wl_pointer*) {},
    [](void*, wl_pointer*, std::uint32_t) {},
    [](void*, wl_pointer*, std::uint32_t, std::uint32_t) {},
    [](void*, wl_pointer*, std::uint32_t, std::int32_t) {},
    [](void*, wl_pointer*, std::uint32_t, std::int32_t) {},
};

const wl_seat_listener SEAT = {
    [](void* data, wl_seat* seat, std::uint32_t caps) {
        auto* c = static_cast<Client*>(data);
        if ((caps & WL_SEAT_CAPABILITY_POINTER) && !c->pointer) {
            c->pointer = wl_seat_get_pointer(seat);
            wl_pointer_add_listener(c->pointer, &POINTER, c);
        }
    },
    [](void*, wl_seat*, const char*) {},
};

// A white buffer of the configured size.
wl_buffer* white_buffer(Client* c) {
    const std::int32_t stride = c->width * 4;
    const std::size_t size = static_cast<std::size_t>(stride) * static_cast<std::size_t>(c->height);
    const int fd = memfd_create("drag_source", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, static_cast<off_t>(size)) < 0) {
        return nullptr;
    }
    void* pixels = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (pixels == MAP_FAILED) {
        return nullptr;
    }
    std::memset(pixels, 0xff, size);
    munmap(pixels, size);
    wl_shm_pool* pool = wl_shm_create_pool(c->shm, fd, static_cast<std::int32_t>(size));
    wl_buffer* buffer =
        wl_shm_pool_create_buffer(pool, 0, c->width, c->height, stride, WL_SHM_FORMAT_XRGB8888);
    wl_shm_pool_destroy(pool);
    close(fd);
    return buffer;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: drag_source MIME TEXT STATUS_FILE\n");
        return 2;
    }
    Client c;
    c.mime = argv[1];
    c.text = argv[2];
    c.status_path = argv[3];
    wl_display* display = wl_display_connect(nullptr);
    if (!display) {
        std::fprintf(stderr, "no compositor\n");
        return 1;
    }
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &REGISTRY, &c);
    wl_display_roundtrip(display);
    if (!c.compositor || !c.shm || !c.seat || !c.wm_base || !c.manager) {
        std::fprintf(stderr, "missing globals\n");
        return 1;
    }
    xdg_wm_base_add_listener(c.wm_base, &WM_BASE, &c);
    wl_seat_add_listener(c.seat, &SEAT, &c);
    c.device = wl_data_device_manager_get_data_device(c.manager, c.seat);
    c.surface = wl_compositor_create_surface(c.compositor);
    xdg_surface* shell_surface = xdg_wm_base_get_xdg_surface(c.wm_base, c.surface);
    xdg_surface_add_listener(shell_surface, &XDG_SURFACE, &c);
    xdg_toplevel* toplevel = xdg_surface_get_toplevel(shell_surface);
    xdg_toplevel_add_listener(toplevel, &TOPLEVEL, &c);
    xdg_toplevel_set_app_id(toplevel, "drag_source");
    wl_surface_commit(c.surface);
    while (!c.configured && wl_display_dispatch(display) >= 0) {
    }
    if (c.width <= 0 || c.height <= 0) {
        c.width = 640;
        c.height = 480;
    }
    wl_surface_attach(c.surface, white_buffer(&c), 0, 0);
    wl_surface_commit(c.surface);
    wl_display_roundtrip(display);
    c.status("ready");
    while (!c.done && wl_display_dispatch(display) >= 0) {
    }
    for (const int fd : c.unanswered) {
        close(fd);
    }
    wl_display_disconnect(display);
    return c.done ? 0 : 1;
}
