// Mesa unloads its DRI driver when the last GL context goes, before LeakSanitizer scans the
// heap at exit. What the driver (and libraries it brought in) keeps until exit then comes from
// an unloaded, unnamed module, which no suppression can name. Opening the driver once with
// RTLD_NODELETE keeps it and its dependencies mapped to the end, so the suppressions match.
#include <dlfcn.h>

#include <cstdlib>
#include <string>

namespace {

struct KeepGlDriverLoaded {
    KeepGlDriverLoaded() {
        const char* own = std::getenv("LIBGL_DRIVERS_PATH");
        for (const char* dir : {own, ZELTO_DRI_DIR, "/usr/lib/dri"}) {
            if (dir == nullptr) continue;
            const std::string path = std::string(dir) + "/swrast_dri.so";
            if (dlopen(path.c_str(), RTLD_NOW | RTLD_NODELETE) != nullptr) return;
        }
    }
};

const KeepGlDriverLoaded keep_gl_driver_loaded;

}  // namespace
