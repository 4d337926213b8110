// Loads the observed build of the shared library the way a host program does:
// LoadLibraryW + GetProcAddress + FreeLibrary on Windows, dlopen + dlsym +
// dlclose on Linux.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

class HostLibrary {
public:
    HostLibrary() = default;
    HostLibrary(const HostLibrary&) = delete;
    HostLibrary& operator=(const HostLibrary&) = delete;
    ~HostLibrary() { unload(); }

    bool load() {
#ifdef _WIN32
        // The library sits beside the test program, which the loader searches first.
        handle_ = LoadLibraryW(L"" OCT_OBSERVED_LIBRARY_NAME);
#else
        handle_ = dlopen(OCT_OBSERVED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
#endif
        return handle_ != nullptr;
    }

    template <typename Fn>
    Fn proc(const char* name) const {
#ifdef _WIN32
        return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(handle_, name)));
#else
        return reinterpret_cast<Fn>(dlsym(handle_, name));
#endif
    }

    void unload() {
        if (!handle_) return;
#ifdef _WIN32
        FreeLibrary(handle_);
#else
        dlclose(handle_);
#endif
        handle_ = nullptr;
    }

private:
#ifdef _WIN32
    HMODULE handle_ = nullptr;
#else
    void* handle_ = nullptr;
#endif
};
