// Child programs on Linux: posix_spawn, SIGKILL and waitpid.
#include "platform/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <new>

#include "platform/utf8.h"

extern char** environ;

namespace oct::plat {
namespace {

std::string utf8(const std::u16string& text) {
    std::string out(utf8LengthOf(text), '\0');
    utf8Encode(text, out.data());
    return out;
}

}  // namespace

struct ChildProcess {
    pid_t pid;
};

ChildProcess* childStart(const std::u16string& program, const std::vector<std::u16string>& args) {
    std::vector<std::string> words{utf8(program)};
    for (const std::u16string& a : args) words.push_back(utf8(a));
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) return nullptr;
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return nullptr;
    auto* child = new (std::nothrow) ChildProcess{pid};
    if (!child) {
        ::kill(pid, SIGKILL);
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    return child;
}

// A program that has ended stays a zombie until childWait, so its number
// cannot have passed to another program yet.
void childKill(ChildProcess* child) {
    if (child) ::kill(child->pid, SIGKILL);
}

int childWait(ChildProcess* child) {
    if (!child) return kChildUnknown;
    int status = 0;
    pid_t got;
    do got = ::waitpid(child->pid, &status, 0);
    while (got < 0 && errno == EINTR);
    delete child;
    if (got < 0) return kChildUnknown;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) return kChildKilled;
    return kChildUnknown;
}

}  // namespace oct::plat
