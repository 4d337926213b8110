// Runs the built octtool as a separate process, the way a shell does: the
// arguments as the system passes them (UTF-16 on Windows, bytes on Linux),
// standard input and output redirected to files.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
extern char** environ;
#endif

namespace octtest {

// The exit code of octtool run with the UTF-8 arguments; standard input
// from `in` (the null device when empty), standard output into `out`
// (discarded when empty). −1 when the process cannot be run.
inline int runToolProcess(const std::vector<std::string>& args, const std::filesystem::path& in = {},
                          const std::filesystem::path& out = {}) {
#ifdef _WIN32
    auto wide = [](const std::string& utf8) {
        std::wstring w(static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0)), L'\0');
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), w.data(), static_cast<int>(w.size()));
        return w;
    };
    // octtool.exe sits beside the test program.
    wchar_t self[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (n == 0 || n == MAX_PATH) return -1;
    const std::wstring exe = (std::filesystem::path(self).parent_path() / L"octtool.exe").wstring();
    std::wstring line = L"\"" + exe + L"\"";
    for (const std::string& a : args) line += L" \"" + wide(a) + L"\"";  // no quotes or trailing backslashes in the tests' arguments

    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE input = CreateFileW(in.empty() ? L"NUL" : in.wstring().c_str(), GENERIC_READ, FILE_SHARE_READ, &inherit,
                               OPEN_EXISTING, 0, nullptr);
    HANDLE output = CreateFileW(out.empty() ? L"NUL" : out.wstring().c_str(), GENERIC_WRITE, 0, &inherit,
                                CREATE_ALWAYS, 0, nullptr);
    int code = -1;
    if (input != INVALID_HANDLE_VALUE && output != INVALID_HANDLE_VALUE) {
        STARTUPINFOW si{};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = input;
        si.hStdOutput = output;
        si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        PROCESS_INFORMATION pi{};
        if (CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
            WaitForSingleObject(pi.hProcess, INFINITE);
            DWORD exit = 0;
            if (GetExitCodeProcess(pi.hProcess, &exit)) code = static_cast<int>(exit);
            CloseHandle(pi.hThread);
            CloseHandle(pi.hProcess);
        }
    }
    if (input != INVALID_HANDLE_VALUE) CloseHandle(input);
    if (output != INVALID_HANDLE_VALUE) CloseHandle(output);
    return code;
#else
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, in.empty() ? "/dev/null" : in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.empty() ? "/dev/null" : out.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> all{OCT_TOOL_PATH};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid;
    const int spawned = posix_spawn(&pid, OCT_TOOL_PATH, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
#endif
}

}  // namespace octtest
