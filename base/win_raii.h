#pragma once
// Owners for the platform's resources: each releases what it holds with the
// one function that matches how it was obtained (a change notification is
// not closed by CloseHandle, a window DC is released, not deleted). COM
// references use Microsoft::WRL::ComPtr instead.

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <type_traits>
#include <utility>

// One value of type T, released by Release when the owner lets it go. Null
// (and, for kernel handles, INVALID_HANDLE_VALUE) means "nothing held".
template <typename T, auto Release>
class UniqueResource {
public:
    UniqueResource() = default;
    explicit UniqueResource(T value) : value_(IsHeld(value) ? value : T{}) {}
    ~UniqueResource() { reset(); }
    UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;

    T get() const { return value_; }
    explicit operator bool() const { return IsHeld(value_); }
    T release() { return std::exchange(value_, T{}); }
    void reset(T value = T{}) {
        T old = std::exchange(value_, IsHeld(value) ? value : T{});
        if (IsHeld(old)) Release(old);
    }

private:
    static bool IsHeld(T value) {
        if constexpr (std::is_pointer_v<T>) {
            return value != nullptr && value != reinterpret_cast<T>(INVALID_HANDLE_VALUE);
        } else {
            return value != T{};
        }
    }
    T value_{};
};

using UniqueHandle = UniqueResource<HANDLE, CloseHandle>;
using UniqueChangeNotification = UniqueResource<HANDLE, FindCloseChangeNotification>;
using UniqueMenu = UniqueResource<HMENU, DestroyMenu>;
using UniqueFont = UniqueResource<HFONT, DeleteObject>;
template <typename T>
using UniqueTaskMemory = UniqueResource<T*, CoTaskMemFree>;
// An item ID list the shell allocated (ILFree is CoTaskMemFree for it).
// Held as the shell's own pointer type: in the Windows SDK that pointer
// is __unaligned, and a plain ITEMIDLIST* cannot take it.
using UniqueIdList = UniqueResource<PIDLIST_ABSOLUTE, ILFree>;
// An item ID relative to a folder (a child's, say), as a folder hands it out.
using UniqueItemId = UniqueResource<PIDLIST_RELATIVE, ILFree>;

// A window's device context, for the scope that needs it.
class WindowDC {
public:
    explicit WindowDC(HWND window) : window_(window), dc_(GetDC(window)) {}
    ~WindowDC() {
        if (dc_) ReleaseDC(window_, dc_);
    }
    WindowDC(const WindowDC&) = delete;
    WindowDC& operator=(const WindowDC&) = delete;
    HDC get() const { return dc_; }
    explicit operator bool() const { return dc_ != nullptr; }

private:
    HWND window_;
    HDC dc_;
};

// A slim reader/writer lock held exclusively for one scope. Unlike a
// std::mutex (winpthreads), it never needs a kernel object, so a process
// whose handles are counted sees none come and stay.
class ExclusiveLock {
public:
    explicit ExclusiveLock(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
    ~ExclusiveLock() { ReleaseSRWLockExclusive(&lock_); }
    ExclusiveLock(const ExclusiveLock&) = delete;
    ExclusiveLock& operator=(const ExclusiveLock&) = delete;

private:
    SRWLOCK& lock_;
};

// The calling thread's COM apartment, left again only if entering worked.
class ComApartment {
public:
    explicit ComApartment(DWORD model = COINIT_APARTMENTTHREADED)
        : entered_(SUCCEEDED(CoInitializeEx(nullptr, model))) {}
    ~ComApartment() {
        if (entered_) CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    bool entered() const { return entered_; }

private:
    bool entered_;
};
