#pragma once
// A file the export writes from start to end: made only where nothing is, so
// that no link is ever followed and nothing is overwritten, then flushed to
// the disk and stamped with its time before it is closed.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "platform/dos_time.hpp"
#include "platform/system_error.hpp"
#include "platform/write_behind.hpp"

namespace quilbex::platform {

// Each call returns no error on success, else the system's reason.
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();  // closes the file if still open
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Fails when anything, even a link to nowhere, is at the path already.
    SystemError create(const std::string& path);
    // Appends all of the bytes, or fails after those that went.
    SystemError write(std::span<const std::byte> bytes);
    // Sets the modification time to `local`, read in the local time zone;
    // leaves it as it is, with no error, when `local` is no valid date.
    SystemError setModificationTime(const CalendarTime& local);
    // Returns once the data is on the disk.
    SystemError flush();
    SystemError close();

private:
    static constexpr intptr_t closedHandle = -1;
    intptr_t handle_ = closedHandle;  // the system's descriptor or handle
    uint64_t length_ = 0;              // bytes written so far
    WriteBehind writeBehind_;
};

}  // namespace quilbex::platform
