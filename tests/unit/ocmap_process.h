// Running the ocmap tool as a child process in a scratch directory: its exit
// status, standard output and standard error, for tests that judge the tool
// the way a user or a script sees it.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace oclr_test {

namespace fs = std::filesystem;

struct scratch_dir {
    fs::path path;
    scratch_dir() {
        char tmpl[] = "/tmp/ocmap-test-XXXXXX";
        path = ::mkdtemp(tmpl);
    }
    ~scratch_dir() { fs::remove_all(path); }
    scratch_dir(const scratch_dir &) = delete;
    scratch_dir &operator=(const scratch_dir &) = delete;
};

inline std::string slurp(const fs::path &p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void spill(const fs::path &p, const std::string &text) {
    std::ofstream(p, std::ios::binary) << text;
}

// Starts ocmap with args, its output going to files in dir; returns the pid.
inline pid_t start_ocmap(const std::vector<std::string> &args, const fs::path &dir,
                         const std::string &tag = "") {
    std::string out = (dir / ("stdout" + tag)).string();
    std::string err = (dir / ("stderr" + tag)).string();
    pid_t pid = ::fork();
    if (pid == 0) {
        int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(o, 1);
        ::dup2(e, 2);
        std::vector<char *> argv{const_cast<char *>(OCMAP_PATH)};
        for (const auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(OCMAP_PATH, argv.data());
        ::_exit(127);
    }
    return pid;
}

struct ocmap_run {
    int status = -1;  // exit status, or 128 + signal
    std::string out;
    std::string err;
};

inline int status_of(int wait_status) {
    return WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
}

inline ocmap_run run_ocmap(const std::vector<std::string> &args, const fs::path &dir) {
    pid_t pid = start_ocmap(args, dir);
    int st = 0;
    ::waitpid(pid, &st, 0);
    return {status_of(st), slurp(dir / "stdout"), slurp(dir / "stderr")};
}

}  // namespace oclr_test
