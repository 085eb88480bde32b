#include <windows.h>

#include <algorithm>
#include <cerrno>

#include "platform/archive_file.hpp"
#include "platform/folder.hpp"

namespace quilbex::platform {
namespace {

constexpr size_t largestTransfer = size_t{1} << 30;

HANDLE handleOf(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// Where a write on a synchronous handle takes place.
OVERLAPPED at(uint64_t position) {
    OVERLAPPED place{};
    place.Offset = static_cast<DWORD>(position);
    place.OffsetHigh = static_cast<DWORD>(position >> 32);
    return place;
}

}  // namespace

// The path itself, not what a link there points to.
std::unique_ptr<ArchiveFile> ArchiveFile::create(const std::string& path, SystemError& error) {
    const HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = SystemError::last();
        // Windows has no code that says the path is a folder; the C
        // library's words do.
        const DWORD attributes = GetFileAttributesA(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            error = SystemError::posix(EISDIR);
        return nullptr;
    }
    return std::unique_ptr<ArchiveFile>(new ArchiveFile(reinterpret_cast<intptr_t>(handle), folderOf(path)));
}

ArchiveFile::~ArchiveFile() { close(); }

// A write that moves nothing without an error is taken as the end of the
// room; the error stays as it was.
size_t ArchiveFile::writeAt(uint64_t position, std::span<const std::byte> bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const auto piece = static_cast<DWORD>(std::min(bytes.size() - done, largestTransfer));
        OVERLAPPED place = at(position + done);
        DWORD written = 0;
        const BOOL ok = WriteFile(handleOf(handle_), bytes.data() + done, piece, &written, &place);
        if (!ok) failed();
        done += written;
        if (!ok || written == 0) break;
    }
    writeBehind_.wrote(handle_, position + done);
    return done;
}

bool ArchiveFile::truncate(uint64_t length) {
    LARGE_INTEGER position{};
    position.QuadPart = static_cast<LONGLONG>(length);
    return (SetFilePointerEx(handleOf(handle_), position, nullptr, FILE_BEGIN) && SetEndOfFile(handleOf(handle_))) ||
           failed();
}

bool ArchiveFile::flush() {
    const SystemError behind = writeBehind_.settle();
    return (FlushFileBuffers(handleOf(handle_)) || failed()) && passOn(behind) && passOn(flushFolder(folder_));
}

bool ArchiveFile::close() {
    if (handle_ == closedHandle) return true;
    const SystemError behind = writeBehind_.settle();
    const BOOL closed = CloseHandle(handleOf(handle_));
    handle_ = closedHandle;
    return (closed || failed()) && passOn(behind);
}

bool ArchiveFile::failed() {
    lastError_ = SystemError::last();
    return false;
}

// Windows has no file size limit of its own.
void letWritesFailAtFileSizeLimit() {}

}  // namespace quilbex::platform
