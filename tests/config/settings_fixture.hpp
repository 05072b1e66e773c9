#pragma once

// A Settings test fixture: a private XDG_CONFIG_HOME and HOME, a configuration file written per
// test, settings_init run over given arguments with its warnings kept.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "config/settings.hpp"

namespace zelto {

inline void PrintTo(const ColorRGB& c, std::ostream* os) {
    *os << "(" << +c.r << "," << +c.g << "," << +c.b << ")";
}
inline void PrintTo(const ColorRGBA& c, std::ostream* os) {
    *os << "(" << +c.r << "," << +c.g << "," << +c.b << "," << +c.a << ")";
}

namespace testing_support {

namespace fs = std::filesystem;

// Saves an environment variable and puts it back afterwards.
class EnvVar {
  public:
    explicit EnvVar(const char* name) : name_(name) {
        const char* v = std::getenv(name);
        if (v) saved_ = v;
    }
    ~EnvVar() {
        if (saved_) {
            setenv(name_, saved_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }
    void set(const std::string& value) { setenv(name_, value.c_str(), 1); }
    void unset() { unsetenv(name_); }

  private:
    const char* name_;
    std::optional<std::string> saved_;
};

inline std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

class SettingsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/zelto-settings-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        xdg_.set(dir_ + "/xdg");
        home_.set(dir_ + "/home");
        shell_.set("/bin/test-shell");
    }

    void TearDown() override {
        settings_cleanup();
        fs::remove_all(dir_);
    }

    void write(const std::string& path, const std::string& text) {
        fs::create_directories(fs::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << text;
    }

    // The default configuration file under XDG_CONFIG_HOME.
    void write_config(const std::string& text) { write(dir_ + "/xdg/zelto/config", text); }

    std::vector<std::string> argv_of(std::vector<std::string> args) {
        args.insert(args.begin(), "zelto");
        return args;
    }

    // Runs settings_init over the arguments and keeps what it printed to stderr.
    const Settings& init(std::vector<std::string> args = {}) {
        args_ = argv_of(std::move(args));
        pointers_.clear();
        for (auto& a : args_) pointers_.push_back(a.data());
        pointers_.push_back(nullptr);
        testing::internal::CaptureStderr();
        settings_init(static_cast<int>(args_.size()), pointers_.data());
        stderr_ = testing::internal::GetCapturedStderr();
        return settings();
    }

    // Settings from a configuration file holding `text` (and no command-line options).
    const Settings& from_file(const std::string& text) {
        write_config(text);
        return init();
    }

    bool warned(const std::string& text) const { return stderr_.find(text) != std::string::npos; }

    struct Exit {
        int status = -1;
        std::string out;
    };

    // settings_init in a child process that is expected to exit; its standard output is kept.
    Exit init_and_exit(std::vector<std::string> args) {
        auto full = argv_of(std::move(args));
        std::vector<char*> ptrs;
        for (auto& a : full) ptrs.push_back(a.data());
        ptrs.push_back(nullptr);
        int fds[2];
        EXPECT_EQ(pipe(fds), 0);
        std::fflush(stdout);
        pid_t pid = fork();
        if (pid == 0) {
            dup2(fds[1], 1);
            close(fds[0]);
            close(fds[1]);
            settings_init(static_cast<int>(full.size()), ptrs.data());
            _exit(99);
        }
        close(fds[1]);
        Exit result;
        char buf[4096];
        ssize_t n;
        while ((n = read(fds[0], buf, sizeof buf)) > 0)
            result.out.append(buf, static_cast<std::size_t>(n));
        close(fds[0]);
        int status = 0;
        waitpid(pid, &status, 0);
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return result;
    }

    std::string dir_;
    std::string stderr_;
    EnvVar xdg_{"XDG_CONFIG_HOME"};
    EnvVar home_{"HOME"};
    EnvVar shell_{"SHELL"};
    std::vector<std::string> args_;
    std::vector<char*> pointers_;
};

}  // namespace testing_support
}  // namespace zelto
