// Child programs on Windows: CreateProcessW and TerminateProcess.
#include "platform/child_process.h"

#include <windows.h>

#include <new>

namespace oct::plat {

struct ChildProcess {
    HANDLE process;
    bool killed;  // TerminateProcess ended it while it still ran
};

namespace {

constexpr int kStartAttempts = 5;

// Arguments are quoted whole; one that itself holds a quote is not supported.
std::wstring commandLine(const std::u16string& program, const std::vector<std::u16string>& args) {
    std::wstring line = L"\"" + std::wstring(program.begin(), program.end()) + L"\"";
    for (const std::u16string& a : args) line += L" \"" + std::wstring(a.begin(), a.end()) + L"\"";
    return line;
}

}  // namespace

ChildProcess* childStart(const std::u16string& program, const std::vector<std::u16string>& args) {
    std::wstring line = commandLine(program, args);
    const std::wstring exe(program.begin(), program.end());
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE null = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                              OPEN_EXISTING, 0, nullptr);
    if (null == INVALID_HANDLE_VALUE) return nullptr;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = null;
    si.hStdOutput = null;
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION pi{};
    // Right after a child was terminated, wine has refused the next start
    // now and then (once in some thousand starts under load); a few more
    // tries a little later start it.
    BOOL started = FALSE;
    for (int attempt = 0; attempt < kStartAttempts && !started; ++attempt) {
        if (attempt) Sleep(20 * attempt);
        started = CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    }
    CloseHandle(null);
    if (!started) return nullptr;
    CloseHandle(pi.hThread);
    auto* child = new (std::nothrow) ChildProcess{pi.hProcess, false};
    if (!child) {
        TerminateProcess(pi.hProcess, 1);
        WaitForSingleObject(pi.hProcess, INFINITE);
        CloseHandle(pi.hProcess);
    }
    return child;
}

// Only a program still running counts as killed: a kill that came after its
// end changes nothing.
void childKill(ChildProcess* child) {
    if (child && !child->killed && WaitForSingleObject(child->process, 0) == WAIT_TIMEOUT)
        child->killed = TerminateProcess(child->process, 1) != 0;
}

int childWait(ChildProcess* child) {
    if (!child) return kChildUnknown;
    int result = kChildUnknown;
    DWORD code = 0;
    if (WaitForSingleObject(child->process, INFINITE) == WAIT_OBJECT_0 && GetExitCodeProcess(child->process, &code))
        result = child->killed ? kChildKilled : static_cast<int>(code);
    CloseHandle(child->process);
    delete child;
    return result;
}

}  // namespace oct::plat
