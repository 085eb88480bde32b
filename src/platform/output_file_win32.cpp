#include <windows.h>

#include <algorithm>

#include "platform/output_file.hpp"
#include "platform/system_time_win32.hpp"

namespace quilbex::platform {
namespace {

constexpr size_t largestTransfer = size_t{1} << 30;

HANDLE handleOf(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

OutputFile::~OutputFile() { close(); }

SystemError OutputFile::create(const std::string& path) {
    // The path itself, not what a link there points to.
    const HANDLE handle =
        CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return SystemError::last();
    handle_ = reinterpret_cast<intptr_t>(handle);
    length_ = 0;
    return {};
}

SystemError OutputFile::write(std::span<const std::byte> bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const auto piece = static_cast<DWORD>(std::min(bytes.size() - done, largestTransfer));
        DWORD written = 0;
        if (!WriteFile(handleOf(handle_), bytes.data() + done, piece, &written, nullptr)) return SystemError::last();
        if (written == 0) return SystemError::win32(ERROR_DISK_FULL);
        done += written;
        length_ += written;
    }
    writeBehind_.wrote(handle_, length_);
    return {};
}

SystemError OutputFile::setModificationTime(const CalendarTime& local) {
    SYSTEMTIME calendar = toSystemTime(local);
    // The same rule of valid dates as the zip entry's date.
    if (toDosDateTime(local).fileTimeError != 0) return {};
    SYSTEMTIME universal{};
    FILETIME written{};
    // The zone's bias on that day, daylight saving included.
    if (!TzSpecificLocalTimeToSystemTime(nullptr, &calendar, &universal) ||
        !SystemTimeToFileTime(&universal, &written))
        return SystemError::last();
    if (!SetFileTime(handleOf(handle_), nullptr, nullptr, &written)) return SystemError::last();
    return {};
}

SystemError OutputFile::flush() {
    const SystemError behind = writeBehind_.settle();
    if (!FlushFileBuffers(handleOf(handle_))) return SystemError::last();
    return behind;
}

SystemError OutputFile::close() {
    if (handle_ == closedHandle) return {};
    const SystemError behind = writeBehind_.settle();
    const BOOL closed = CloseHandle(handleOf(handle_));
    handle_ = closedHandle;
    if (!closed) return SystemError::last();
    return behind;
}

}  // namespace quilbex::platform
