// RAII owners for Windows handles.
#pragma once

#include <windows.h>

#include <utility>

namespace qzr::win {

template <class Traits>
class basic_handle {
public:
    using value_type = typename Traits::value_type;

    basic_handle() noexcept = default;
    explicit basic_handle(value_type h) noexcept : h_(h) {}
    ~basic_handle() { reset(); }
    basic_handle(basic_handle&& o) noexcept : h_(std::exchange(o.h_, Traits::invalid())) {}
    basic_handle& operator=(basic_handle&& o) noexcept {
        if (this != &o) reset(std::exchange(o.h_, Traits::invalid()));
        return *this;
    }
    basic_handle(const basic_handle&) = delete;
    basic_handle& operator=(const basic_handle&) = delete;

    value_type get() const noexcept { return h_; }
    explicit operator bool() const noexcept { return Traits::valid(h_); }
    value_type release() noexcept { return std::exchange(h_, Traits::invalid()); }
    void reset(value_type h = Traits::invalid()) noexcept {
        if (Traits::valid(h_)) Traits::close(h_);
        h_ = h;
    }

private:
    value_type h_ = Traits::invalid();
};

struct kernel_handle_traits {  // CreateEvent, OpenProcess, ...: null when invalid
    using value_type = HANDLE;
    static HANDLE invalid() noexcept { return nullptr; }
    static bool valid(HANDLE h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void close(HANDLE h) noexcept { ::CloseHandle(h); }
};
struct file_handle_traits {  // CreateFile, snapshots: INVALID_HANDLE_VALUE when invalid
    using value_type = HANDLE;
    static HANDLE invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static bool valid(HANDLE h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void close(HANDLE h) noexcept { ::CloseHandle(h); }
};
struct find_handle_traits {
    using value_type = HANDLE;
    static HANDLE invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static bool valid(HANDLE h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void close(HANDLE h) noexcept { ::FindClose(h); }
};
struct local_memory_traits {
    using value_type = HLOCAL;
    static HLOCAL invalid() noexcept { return nullptr; }
    static bool valid(HLOCAL h) noexcept { return h != nullptr; }
    static void close(HLOCAL h) noexcept { ::LocalFree(h); }
};
struct module_traits {
    using value_type = HMODULE;
    static HMODULE invalid() noexcept { return nullptr; }
    static bool valid(HMODULE h) noexcept { return h != nullptr; }
    static void close(HMODULE h) noexcept { ::FreeLibrary(h); }
};

struct gdi_object_traits {  // bitmaps, fonts, brushes
    using value_type = HGDIOBJ;
    static HGDIOBJ invalid() noexcept { return nullptr; }
    static bool valid(HGDIOBJ h) noexcept { return h != nullptr; }
    static void close(HGDIOBJ h) noexcept { ::DeleteObject(h); }
};
struct memory_dc_traits {  // CreateCompatibleDC
    using value_type = HDC;
    static HDC invalid() noexcept { return nullptr; }
    static bool valid(HDC h) noexcept { return h != nullptr; }
    static void close(HDC h) noexcept { ::DeleteDC(h); }
};
struct icon_traits {  // LoadImage(IMAGE_ICON) without LR_SHARED
    using value_type = HICON;
    static HICON invalid() noexcept { return nullptr; }
    static bool valid(HICON h) noexcept { return h != nullptr; }
    static void close(HICON h) noexcept { ::DestroyIcon(h); }
};

using handle = basic_handle<kernel_handle_traits>;
using file_handle = basic_handle<file_handle_traits>;
using find_handle = basic_handle<find_handle_traits>;
using local_memory = basic_handle<local_memory_traits>;
using module_handle = basic_handle<module_traits>;
using gdi_object = basic_handle<gdi_object_traits>;
using memory_dc = basic_handle<memory_dc_traits>;
using icon_handle = basic_handle<icon_traits>;

// Selects an object into a device context until the guard goes.
class selected_object {
public:
    selected_object(HDC dc, HGDIOBJ object) noexcept : dc_(dc), old_(::SelectObject(dc, object)) {}
    ~selected_object() { ::SelectObject(dc_, old_); }
    selected_object(const selected_object&) = delete;
    selected_object& operator=(const selected_object&) = delete;

private:
    HDC dc_;
    HGDIOBJ old_;
};

// A critical section that lives as long as its owner.
class critical_section {
public:
    critical_section() noexcept { ::InitializeCriticalSection(&cs_); }
    ~critical_section() { ::DeleteCriticalSection(&cs_); }
    critical_section(const critical_section&) = delete;
    critical_section& operator=(const critical_section&) = delete;
    void lock() noexcept { ::EnterCriticalSection(&cs_); }
    void unlock() noexcept { ::LeaveCriticalSection(&cs_); }

private:
    CRITICAL_SECTION cs_;
};

}  // namespace qzr::win
