#pragma once

#include <string>
#include <vector>

#include "util/unique_fd.hpp"

namespace zelto {

struct SpawnRequest {
    const char* work_dir = nullptr;  // none: the terminal's own
    std::string executable;          // searched in PATH
    std::vector<std::string> argv;   // empty: just the executable
    // The program runs in a session of its own, adopted by the system: the terminal neither
    // waits for it nor leaves a zombie behind.
    bool detach = true;
    bool with_pipe = false;
};

// Starts a program without a shell: every argument reaches it as given. The write end of a pipe
// into its standard input with `with_pipe` (invalid when that failed), else an invalid one.
// Failures are warnings, the child's own ones on the inherited standard error.
UniqueFd spawn_process(const SpawnRequest& request);

}  // namespace zelto
