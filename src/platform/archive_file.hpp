#pragma once
// The archive file, written at given positions. A new archive is made only
// where nothing is: a file, a link or anything else already at the path makes
// the creation fail, so no link is ever followed and nothing is overwritten.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <utility>

#include "platform/system_error.hpp"
#include "platform/write_behind.hpp"

namespace quilbex::platform {

class ArchiveFile {
public:
    // Null when the file cannot be made, for instance because something is
    // at the path already or its directory cannot be written; `error` then
    // says why.
    static std::unique_ptr<ArchiveFile> create(const std::string& path, SystemError& error);

    ~ArchiveFile();  // closes the file if still open
    ArchiveFile(const ArchiveFile&) = delete;
    ArchiveFile& operator=(const ArchiveFile&) = delete;

    // Each call that fails leaves its reason in lastError().

    // How many bytes went to the file from `position` on: all of them, or
    // those written before a write failed (the disk full, a file size limit).
    size_t writeAt(uint64_t position, std::span<const std::byte> bytes);
    // Cuts the file to `length` bytes, or extends it with a hole.
    bool truncate(uint64_t length);
    // True once every byte written so far is on the device, not only in the
    // system's cache, and the archive's name in its folder too.
    bool flush();
    // False when the system reports that the file could not be finished.
    bool close();

    SystemError lastError() const { return lastError_; }

private:
    ArchiveFile(intptr_t handle, std::string folder) : handle_(handle), folder_(std::move(folder)) {}

    // Keeps the calling thread's last error; returns false for the caller
    // to pass on.
    bool failed();
    // False with `error` kept when it is one.
    bool passOn(SystemError error) {
        if (!error.any()) return true;
        lastError_ = error;
        return false;
    }

    intptr_t handle_;     // the system's descriptor or handle; closedHandle once closed
    std::string folder_;  // that holds the archive
    static constexpr intptr_t closedHandle = -1;
    SystemError lastError_;  // of the latest failed call
    WriteBehind writeBehind_;
};

// A write that meets the process's file size limit then fails (EFBIG) like a
// write to a full disk, instead of the system ending the process.
void letWritesFailAtFileSizeLimit();

}  // namespace quilbex::platform
