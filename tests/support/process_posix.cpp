#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "run_process.h"

extern char** environ;

namespace vexlor::testing {

namespace {

// Output goes to unlinked temporary files rather than pipes, so a chatty child can never
// block on a full pipe while we wait for it.
class CaptureFile {
  public:
    CaptureFile() {
        char name[] = "/tmp/vexlor_capture_XXXXXX";
        fd_ = ::mkstemp(name);
        ::unlink(name);
    }
    ~CaptureFile() { ::close(fd_); }
    int fd() const { return fd_; }
    std::string contents() const {
        std::string all;
        char chunk[4096];
        ssize_t got;
        for (off_t at = 0; (got = ::pread(fd_, chunk, sizeof chunk, at)) > 0; at += got) {
            all.append(chunk, static_cast<std::size_t>(got));
        }
        return all;
    }

  private:
    int fd_;
};

}  // namespace

ProcessResult RunProcess(const std::filesystem::path& program, const std::vector<std::string>& args,
                         const std::filesystem::path& workingDir) {
    CaptureFile out, err;
    std::vector<char*> argv;
    std::string programName = program.string();
    argv.push_back(programName.data());
    std::vector<std::string> argCopies(args);
    for (std::string& a : argCopies) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out.fd(), 1);
    posix_spawn_file_actions_adddup2(&actions, err.fd(), 2);
    if (!workingDir.empty()) {
        posix_spawn_file_actions_addchdir_np(&actions, workingDir.c_str());
    }
    ProcessResult result;
    pid_t pid = 0;
    const int spawned =
        posix_spawn(&pid, programName.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        result.err = "cannot start " + programName;
        return result;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
    }
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = out.contents();
    result.err = err.contents();
    return result;
}

unsigned long CurrentProcessId() {
    return static_cast<unsigned long>(::getpid());
}

}  // namespace vexlor::testing
