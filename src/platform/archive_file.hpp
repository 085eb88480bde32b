#pragma once
// The archive file, written at given positions. A new archive is made only
// where nothing is: a file, a link or anything else already at the path makes
// the creation fail, so no link is ever followed and nothing is overwritten.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace quilbex::platform {

class ArchiveFile {
public:
    // Null when the file cannot be made, for instance because something is
    // at the path already or its directory cannot be written.
    static std::unique_ptr<ArchiveFile> create(const std::string& path);
    // Opens a regular file to read and write; null when there is none at the
    // path (a link is not followed) or it cannot be opened.
    static std::unique_ptr<ArchiveFile> openExisting(const std::string& path);

    ~ArchiveFile();  // closes the file if still open
    ArchiveFile(const ArchiveFile&) = delete;
    ArchiveFile& operator=(const ArchiveFile&) = delete;

    // How many bytes went to the file from `position` on: all of them, or
    // those written before a write failed (the disk full, a file size limit).
    size_t writeAt(uint64_t position, std::span<const std::byte> bytes);
    // False unless every byte was read.
    bool readAt(uint64_t position, std::span<std::byte> bytes);
    std::optional<uint64_t> size();
    // Cuts the file to `length` bytes, or extends it with a hole.
    bool truncate(uint64_t length);
    // False when the system reports that the file could not be finished.
    bool close();

private:
    explicit ArchiveFile(intptr_t handle) : handle_(handle) {}

    intptr_t handle_;  // the system's descriptor or handle; closedHandle once closed
    static constexpr intptr_t closedHandle = -1;
};

// A write that meets the process's file size limit then fails (EFBIG) like a
// write to a full disk, instead of the system ending the process.
void letWritesFailAtFileSizeLimit();

}  // namespace quilbex::platform
