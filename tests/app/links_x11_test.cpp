// zelto on a private X server, with xdotool as the user: a Ctrl-click on a printed link runs the
// configured URI handler with the link as its one argument, and a plain click runs nothing.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "window/zelto_dump_fixture.hpp"

namespace zelto {
namespace {

using test::slurp;
using test::wait_for;

// Children of `parent` that have exited and were never collected.
int zombie_children(pid_t parent) {
    int zombies = 0;
    DIR* proc = opendir("/proc");
    if (!proc) return 0;
    while (const dirent* entry = readdir(proc)) {
        if (std::atoi(entry->d_name) <= 0) continue;
        const std::string stat = slurp(std::string("/proc/") + entry->d_name + "/stat");
        const std::size_t close = stat.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream rest(stat.substr(close + 1));
        char state = 0;
        pid_t ppid = 0;
        rest >> state >> ppid;
        if (ppid == parent && state == 'Z') ++zombies;
    }
    closedir(proc);
    return zombies;
}

class LinksX11 : public test::ZeltoDumpX11 {
  protected:
    // A handler that writes its argument count and its arguments, one per line in brackets,
    // to "argv" (renamed into place, so a present file is complete).
    void configure_handler() {
        handler_ = dir_ / "handler";
        argv_file_ = dir_ / "argv";
        std::ofstream(handler_) << "#!/bin/sh\n"
                                   "out=\"$(dirname \"$0\")/argv\"\n"
                                   "{ echo \"$#\"; for a in \"$@\"; do echo \"[$a]\"; done; } > "
                                   "\"$out.tmp\" && mv \"$out.tmp\" \"$out\"\n";
        std::filesystem::permissions(handler_, std::filesystem::perms::owner_all);
        std::ofstream(dir_ / "config" / "zelto" / "config", std::ios::app)
            << "uri-handler = " << handler_.string() << "\n";
    }

    int xdotool(const std::string& arguments) {
        return std::system(("xdotool " + arguments + " >/dev/null 2>&1").c_str());
    }

    std::filesystem::path handler_;
    std::filesystem::path argv_file_;
};

TEST_F(LinksX11, CtrlClickOnAPrintedLinkRunsTheHandlerAndAPlainClickDoesNot) {
    configure_handler();
    // The link on every row: wherever the font puts the rows, the pointer lands on one.
    start("clear; for i in 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20; do "
          "echo https://example.org/e2e; done; exec sleep 120");
    ASSERT_NE(dump_showing("https://example.org/e2e").find("https://example.org/e2e"),
              std::string::npos);
    const std::string over_link = "mousemove --window " + id_ + " 40 60";
    ASSERT_EQ(xdotool(over_link + " click 1"), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    EXPECT_FALSE(std::filesystem::exists(argv_file_)) << "a plain click opened the link";

    ASSERT_EQ(xdotool(over_link + " keydown Control_L click 1 keyup Control_L"), 0);
    ASSERT_TRUE(wait_for([&] { return std::filesystem::exists(argv_file_); }, 20'000))
        << "the handler did not run";
    EXPECT_EQ(slurp(argv_file_), "1\n[https://example.org/e2e]\n");
    EXPECT_EQ(zombie_children(pid_), 0);
}

}  // namespace
}  // namespace zelto
