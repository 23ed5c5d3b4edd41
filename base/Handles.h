#pragma once
// One small owner per kind of system handle: closes once, cannot be copied, can be moved or released.
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <utility>

template <class Traits>
class UniqueHandle {
public:
    using Type = typename Traits::Type;

    UniqueHandle() = default;
    explicit UniqueHandle(Type handle) : handle_(handle) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        reset(other.release());
        return *this;
    }
    ~UniqueHandle() { reset(); }

    Type get() const { return handle_; }
    explicit operator bool() const { return handle_ != Traits::invalid(); }
    Type release() { return std::exchange(handle_, Traits::invalid()); }
    void reset(Type handle = Traits::invalid()) {
        if (handle_ != Traits::invalid())
            Traits::close(handle_);
        handle_ = handle;
    }

private:
    Type handle_ = Traits::invalid();
};

struct FileHandleTraits {
    using Type = HANDLE;
    static Type invalid() { return INVALID_HANDLE_VALUE; }
    static void close(Type h) { CloseHandle(h); }
};
// Events, mutexes, threads, processes: null when there is none, closed with CloseHandle.
struct KernelHandleTraits {
    using Type = HANDLE;
    static Type invalid() { return nullptr; }
    static void close(Type h) { CloseHandle(h); }
};
struct FindHandleTraits {
    using Type = HANDLE;
    static Type invalid() { return INVALID_HANDLE_VALUE; }
    static void close(Type h) { FindClose(h); }
};
struct RegistryKeyTraits {
    using Type = HKEY;
    static Type invalid() { return nullptr; }
    static void close(Type h) { RegCloseKey(h); }
};
struct SocketTraits {
    using Type = SOCKET;
    static Type invalid() { return INVALID_SOCKET; }
    static void close(Type h) { closesocket(h); }
};
struct StdFileTraits {
    using Type = FILE*;
    static Type invalid() { return nullptr; }
    static void close(Type h) { std::fclose(h); }
};

using FileHandle = UniqueHandle<FileHandleTraits>;
using KernelHandle = UniqueHandle<KernelHandleTraits>;
using FindHandle = UniqueHandle<FindHandleTraits>;
using RegistryKey = UniqueHandle<RegistryKeyTraits>;
using Socket = UniqueHandle<SocketTraits>;
using StdFile = UniqueHandle<StdFileTraits>;
