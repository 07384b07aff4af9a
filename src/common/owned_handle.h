#pragma once
// Move-only owners of Win32 handles. Each traits type knows its invalid value
// (they differ: CreateFileW and CreateToolhelp32Snapshot fail with
// INVALID_HANDLE_VALUE, an unopened registry key is null) and its close call.

#include <windows.h>

template <typename Traits>
class OwnedHandle {
public:
    using Handle = typename Traits::Handle;

    OwnedHandle() = default;
    explicit OwnedHandle(Handle handle) : handle_(handle) {}
    ~OwnedHandle() { reset(); }
    OwnedHandle(OwnedHandle&& other) noexcept : handle_(other.release()) {}
    OwnedHandle& operator=(OwnedHandle&& other) noexcept
    {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;

    Handle get() const { return handle_; }
    bool valid() const { return handle_ != Traits::invalid(); }
    Handle* put()  // for calls that return the handle through a pointer
    {
        reset();
        return &handle_;
    }
    Handle release()
    {
        Handle handle = handle_;
        handle_ = Traits::invalid();
        return handle;
    }
    void reset(Handle handle = Traits::invalid())
    {
        if (valid()) {
            Traits::close(handle_);
        }
        handle_ = handle;
    }

private:
    Handle handle_ = Traits::invalid();
};

struct RegistryKeyTraits {
    using Handle = HKEY;
    static HKEY invalid() { return nullptr; }
    static void close(HKEY key) { RegCloseKey(key); }
};

struct FileHandleTraits {
    using Handle = HANDLE;
    static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
    static void close(HANDLE handle) { CloseHandle(handle); }
};

// Handles of kernel objects that fail as null (OpenProcess, CreateEventW).
struct KernelHandleTraits {
    using Handle = HANDLE;
    static HANDLE invalid() { return nullptr; }
    static void close(HANDLE handle) { CloseHandle(handle); }
};

using OwnedKey = OwnedHandle<RegistryKeyTraits>;
using OwnedFile = OwnedHandle<FileHandleTraits>;  // also process-list snapshots
using OwnedKernelHandle = OwnedHandle<KernelHandleTraits>;  // processes
