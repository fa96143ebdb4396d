#pragma once
// Small RAII owners for Win32 handles: every handle is closed where it is opened.
#include <windows.h>

#include <utility>

namespace ramclean {

// Traits: `invalid()` is the value that means "no handle", `close()` releases one.
template <typename Traits>
class unique_handle {
public:
    using value_type = typename Traits::value_type;

    unique_handle() noexcept = default;
    explicit unique_handle(value_type h) noexcept : h_(h) {}
    unique_handle(const unique_handle&) = delete;
    unique_handle& operator=(const unique_handle&) = delete;
    unique_handle(unique_handle&& other) noexcept : h_(other.release()) {}
    unique_handle& operator=(unique_handle&& other) noexcept {
        reset(other.release());
        return *this;
    }
    ~unique_handle() { reset(); }

    [[nodiscard]] value_type get() const noexcept { return h_; }
    [[nodiscard]] explicit operator bool() const noexcept { return h_ != Traits::invalid(); }
    value_type release() noexcept { return std::exchange(h_, Traits::invalid()); }
    // For an out-parameter: closes what is held and lends the slot to the call that fills it.
    [[nodiscard]] value_type* put() noexcept {
        reset();
        return &h_;
    }

    // Closes the handle now; true when there was none or closing succeeded.
    bool reset(value_type h = Traits::invalid()) noexcept {
        value_type old = std::exchange(h_, h);
        return old == Traits::invalid() || Traits::close(old);
    }

private:
    value_type h_ = Traits::invalid();
};

// The two policies: the release function, and the value that means "no handle".
template <typename T, BOOL(WINAPI* Close)(T)>
struct null_is_none {
    using value_type = T;
    static T invalid() noexcept { return nullptr; }
    static bool close(T h) noexcept { return Close(h) != 0; }
};
template <BOOL(WINAPI* Close)(HANDLE)>
struct invalid_handle_value_is_none {
    using value_type = HANDLE;
    static HANDLE invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static bool close(HANDLE h) noexcept { return Close(h) != 0; }
};

// LocalFree tells success by returning null.
inline BOOL WINAPI local_free(void* memory) noexcept { return LocalFree(memory) == nullptr; }

using handle = unique_handle<null_is_none<HANDLE, CloseHandle>>;  // process, thread, token, job
// CreateFile, Toolhelp snapshots
using file_handle = unique_handle<invalid_handle_value_is_none<CloseHandle>>;
using find_handle = unique_handle<invalid_handle_value_is_none<FindClose>>;  // FindFirstFile
using icon_handle = unique_handle<null_is_none<HICON, DestroyIcon>>;
using gdi_object = unique_handle<null_is_none<HGDIOBJ, DeleteObject>>;
using module_handle = unique_handle<null_is_none<HMODULE, FreeLibrary>>;  // LoadLibrary(Ex)
using memory_dc = unique_handle<null_is_none<HDC, DeleteDC>>;             // CreateCompatibleDC
using local_memory = unique_handle<null_is_none<void*, local_free>>;      // from security APIs
using window_handle = unique_handle<null_is_none<HWND, DestroyWindow>>;   // of this thread

// The two handles CreateProcess returns, closed together (thread first); put() is the call's
// out-parameter.
class process_information {
public:
    process_information() noexcept = default;
    process_information(const process_information&) = delete;
    process_information& operator=(const process_information&) = delete;
    ~process_information() { reset(); }

    [[nodiscard]] PROCESS_INFORMATION* put() noexcept {
        reset();
        return &info_;
    }
    [[nodiscard]] HANDLE process() const noexcept { return info_.hProcess; }
    [[nodiscard]] HANDLE thread() const noexcept { return info_.hThread; }
    [[nodiscard]] DWORD process_id() const noexcept { return info_.dwProcessId; }
    // Hands the process handle to an owner of its own; the thread handle is closed now.
    [[nodiscard]] handle take_process() noexcept {
        handle process(std::exchange(info_.hProcess, nullptr));
        reset();
        return process;
    }
    void reset() noexcept {
        if (info_.hThread != nullptr) CloseHandle(info_.hThread);
        if (info_.hProcess != nullptr) CloseHandle(info_.hProcess);
        info_ = {};
    }

private:
    PROCESS_INFORMATION info_{};
};

// Selects a GDI object into a DC for the guard's lifetime.
class selected_object {
public:
    selected_object(HDC dc, HGDIOBJ obj) noexcept : dc_(dc), old_(SelectObject(dc, obj)) {}
    selected_object(const selected_object&) = delete;
    selected_object& operator=(const selected_object&) = delete;
    ~selected_object() {
        if (old_ != nullptr && old_ != HGDI_ERROR) SelectObject(dc_, old_);
    }

private:
    HDC dc_;
    HGDIOBJ old_;
};

// BeginPaint/EndPaint pair.
class paint_guard {
public:
    explicit paint_guard(HWND hwnd) noexcept : hwnd_(hwnd) { dc_ = BeginPaint(hwnd, &ps_); }
    paint_guard(const paint_guard&) = delete;
    paint_guard& operator=(const paint_guard&) = delete;
    ~paint_guard() { EndPaint(hwnd_, &ps_); }

    [[nodiscard]] HDC dc() const noexcept { return dc_; }
    [[nodiscard]] const RECT& area() const noexcept { return ps_.rcPaint; }

private:
    HWND hwnd_;
    PAINTSTRUCT ps_{};
    HDC dc_ = nullptr;
};

}  // namespace ramclean
