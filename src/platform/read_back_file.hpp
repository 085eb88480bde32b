#pragma once
// A file the check (-c) reads back as the disk holds it, not as the system's
// cache remembers it: a read served from the cache passes on a stick that
// lost the bytes. The file must have been flushed before it is opened (its
// cached pages are then clean, and are dropped).

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "platform/system_error.hpp"

namespace quilbex::platform {

// Each call returns no error on success, else the system's reason.
class ReadBackFile {
public:
    // The alignment and the multiple of the buffer's size that read() needs
    // where reads bypass the cache.
    static constexpr size_t alignment = 4096;

    ReadBackFile() = default;
    ~ReadBackFile();  // closes the file if still open
    ReadBackFile(const ReadBackFile&) = delete;
    ReadBackFile& operator=(const ReadBackFile&) = delete;

    // Opens the file for reading, never through a link, with the system's
    // cached copy of its bytes dropped.
    SystemError open(const std::string& path);
    // Reads the next bytes into the buffer (aligned, its size a multiple of
    // `alignment`), as many as it holds but at the end; `got` is 0 at the end.
    SystemError read(std::span<std::byte> buffer, size_t& got);
    // Drops the cached copy of the file's bytes written since it was opened.
    void dropCached();
    void close();

private:
    static constexpr intptr_t closedHandle = -1;
#ifndef _WIN32
    SystemError readBuffered();
    SystemError adviseDropped();
    std::string path_;
    bool direct_ = false;  // reads bypass the cache by themselves
#endif
    intptr_t handle_ = closedHandle;
};

}  // namespace quilbex::platform
