// Ownership of COM references and of COM on the calling thread.
#pragma once

#include <objbase.h>

#include <utility>

#include "platform/fail_points.h"

namespace oct::plat {

// Holds one reference to a COM object and releases it when it goes. Each
// holder is counted while it lives (liveComHolds), so that a holder lost
// with its reference shows.
template <typename T>
class ComRef {
public:
    ComRef() { comNoteHold(1); }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    ComRef(ComRef&& other) noexcept : p_(std::exchange(other.p_, nullptr)) { comNoteHold(1); }
    ComRef& operator=(ComRef&& other) noexcept {
        if (this != &other) {
            reset();
            p_ = std::exchange(other.p_, nullptr);
        }
        return *this;
    }
    ~ComRef() {
        reset();
        comNoteHold(-1);
    }

    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // For the out-parameter of a call that hands over a reference; whatever
    // was held is released first.
    T** put() {
        reset();
        return &p_;
    }
    void reset() {
        if (p_) std::exchange(p_, nullptr)->Release();
    }

private:
    T* p_ = nullptr;
};

// COM on the calling thread for as long as it lives: initialised for the
// multithreaded apartment, or left as it is when the host has already chosen
// another apartment for the thread (RPC_E_CHANGED_MODE: its apartment serves,
// and it is not ours to end). Must be destroyed on the thread that made it,
// after every reference obtained under it is released.
class ComThread {
public:
    ComThread() {
        const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        usable_ = SUCCEEDED(hr) || hr == RPC_E_CHANGED_MODE;
        owned_ = SUCCEEDED(hr);  // S_OK, or S_FALSE when it was already ours: both are balanced
        thread_ = GetCurrentThreadId();
        if (owned_) comNoteHold(1);
    }
    ComThread(const ComThread&) = delete;
    ComThread& operator=(const ComThread&) = delete;
    // On another thread CoUninitialize would end that thread's COM instead;
    // the count taken here is then left to the thread's own end.
    ~ComThread() {
        if (owned_ && GetCurrentThreadId() == thread_) {
            CoUninitialize();
            comNoteHold(-1);
        }
    }
    bool usable() const { return usable_; }

private:
    bool usable_ = false;
    bool owned_ = false;
    DWORD thread_ = 0;
};

}  // namespace oct::plat
