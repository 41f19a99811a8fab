// Owners of Windows handles and COM resources: each releases what it holds
// when it goes out of scope.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <utility>

template <typename Traits>
class UniqueResource {
public:
    using Type = typename Traits::Type;

    UniqueResource() : value(Traits::invalid()) {}
    explicit UniqueResource(Type value) : value(value) {}
    ~UniqueResource() { reset(); }
    UniqueResource(UniqueResource&& other) noexcept : value(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;

    Type get() const { return value; }
    explicit operator bool() const { return value != Traits::invalid(); }
    Type* put()
    {
        reset();
        return &value;
    }
    Type release() { return std::exchange(value, Traits::invalid()); }
    void reset(Type newValue = Traits::invalid())
    {
        Type old = std::exchange(value, newValue);
        if (old != Traits::invalid())
            Traits::close(old);
    }

private:
    Type value;
};

struct HandleTraits {
    using Type = HANDLE;
    static Type invalid() { return nullptr; }
    static void close(Type h) { CloseHandle(h); }
};
struct FileHandleTraits {
    using Type = HANDLE;
    static Type invalid() { return INVALID_HANDLE_VALUE; }
    static void close(Type h) { CloseHandle(h); }
};
struct RegKeyTraits {
    using Type = HKEY;
    static Type invalid() { return nullptr; }
    static void close(Type h) { RegCloseKey(h); }
};
struct BstrTraits {
    using Type = BSTR;
    static Type invalid() { return nullptr; }
    static void close(Type s) { SysFreeString(s); }
};
struct GdiObjectTraits {
    using Type = HGDIOBJ;
    static Type invalid() { return nullptr; }
    static void close(Type o) { DeleteObject(o); }
};
struct SidTraits {
    using Type = PSID;
    static Type invalid() { return nullptr; }
    static void close(Type s) { FreeSid(s); }
};
struct MemoryDcTraits {
    using Type = HDC;
    static Type invalid() { return nullptr; }
    static void close(Type dc) { DeleteDC(dc); }
};
struct WindowTraits {
    using Type = HWND;
    static Type invalid() { return nullptr; }
    static void close(Type window) { DestroyWindow(window); }
};

// Memory from LocalAlloc, which security descriptors made from their text
// form come in.
struct LocalMemoryTraits {
    using Type = HLOCAL;
    static Type invalid() { return nullptr; }
    static void close(Type memory) { LocalFree(memory); }
};

struct ActivationContextTraits {
    using Type = HANDLE;
    static Type invalid() { return INVALID_HANDLE_VALUE; }
    static void close(Type context) { ReleaseActCtx(context); }
};

struct ModuleTraits {
    using Type = HMODULE;
    static Type invalid() { return nullptr; }
    static void close(Type module) { FreeLibrary(module); }
};

using UniqueHandle = UniqueResource<HandleTraits>;
using UniqueFile = UniqueResource<FileHandleTraits>;
using UniqueRegKey = UniqueResource<RegKeyTraits>;
using UniqueBstr = UniqueResource<BstrTraits>;
using UniqueGdiObject = UniqueResource<GdiObjectTraits>;
using UniqueSid = UniqueResource<SidTraits>;
using UniqueMemoryDc = UniqueResource<MemoryDcTraits>;   // from CreateCompatibleDC
using UniqueWindow = UniqueResource<WindowTraits>;
using UniqueModule = UniqueResource<ModuleTraits>;   // from LoadLibrary
using UniqueLocalMemory = UniqueResource<LocalMemoryTraits>;
using UniqueActivationContext = UniqueResource<ActivationContextTraits>;   // from CreateActCtx

// Keeps an activation context active on the calling thread for its own
// lifetime; it must end on that thread.
class ScopedActivation {
public:
    explicit ScopedActivation(HANDLE context)
    {
        if (!ActivateActCtx(context, &cookie))
            cookie = 0;
    }
    ~ScopedActivation()
    {
        if (cookie)
            DeactivateActCtx(0, cookie);
    }
    ScopedActivation(const ScopedActivation&) = delete;
    ScopedActivation& operator=(const ScopedActivation&) = delete;

    explicit operator bool() const { return cookie != 0; }

private:
    ULONG_PTR cookie = 0;
};

// Keeps a GDI object selected into a device context for its own lifetime and
// puts the previous one back, so the object can be deleted afterwards.
class ScopedSelection {
public:
    ScopedSelection(HDC dc, HGDIOBJ object) : dc(dc), previous(SelectObject(dc, object)) {}
    ~ScopedSelection()
    {
        if (previous)
            SelectObject(dc, previous);
    }
    ScopedSelection(const ScopedSelection&) = delete;
    ScopedSelection& operator=(const ScopedSelection&) = delete;

private:
    HDC dc;
    HGDIOBJ previous;
};

// Holds one COM reference.
template <typename Interface>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(ComPtr&& other) noexcept : pointer(other.detach()) {}
    ComPtr& operator=(ComPtr&& other) noexcept
    {
        if (this != &other) {
            reset();
            pointer = other.detach();
        }
        return *this;
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ~ComPtr() { reset(); }

    Interface* get() const { return pointer; }
    Interface* operator->() const { return pointer; }
    explicit operator bool() const { return pointer != nullptr; }
    Interface** put()
    {
        reset();
        return &pointer;
    }
    void** putVoid() { return reinterpret_cast<void**>(put()); }
    // Takes over a reference the caller already holds.
    void attach(Interface* owned)
    {
        reset();
        pointer = owned;
    }
    Interface* detach() { return std::exchange(pointer, nullptr); }
    void reset()
    {
        if (Interface* old = std::exchange(pointer, nullptr))
            old->Release();
    }

private:
    Interface* pointer = nullptr;
};

// Balances a successful CoInitialize on this thread.
class ComInitialization {
public:
    ComInitialization() : result(CoInitialize(nullptr)) {}
    ~ComInitialization()
    {
        if (SUCCEEDED(result))
            CoUninitialize();
    }
    ComInitialization(const ComInitialization&) = delete;
    ComInitialization& operator=(const ComInitialization&) = delete;

private:
    HRESULT result;
};

// A window's device context from GetDC, released when it goes out of scope.
class WindowDc {
public:
    explicit WindowDc(HWND window) : window(window), dc(GetDC(window)) {}
    ~WindowDc()
    {
        if (dc)
            ReleaseDC(window, dc);
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;

    HDC get() const { return dc; }

private:
    HWND window;
    HDC dc;
};

// One WM_PAINT's painting, from BeginPaint to EndPaint.
class PaintScope {
public:
    explicit PaintScope(HWND window) : window(window), dc(BeginPaint(window, &paint)) {}
    ~PaintScope() { EndPaint(window, &paint); }
    PaintScope(const PaintScope&) = delete;
    PaintScope& operator=(const PaintScope&) = delete;

    HDC get() const { return dc; }
    const RECT& invalidArea() const { return paint.rcPaint; }

private:
    HWND window;
    PAINTSTRUCT paint;
    HDC dc;
};
