#include <windows.h>

#include <algorithm>

#include "platform/archive_file.hpp"

namespace quilbex::platform {
namespace {

constexpr size_t largestTransfer = size_t{1} << 30;

HANDLE handleOf(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// Where a read or write on a synchronous handle takes place.
OVERLAPPED at(uint64_t position) {
    OVERLAPPED place{};
    place.Offset = static_cast<DWORD>(position);
    place.OffsetHigh = static_cast<DWORD>(position >> 32);
    return place;
}

// The path itself, not what a link there points to.
HANDLE openPath(const std::string& path, DWORD creation) {
    return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, creation,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

}  // namespace

std::unique_ptr<ArchiveFile> ArchiveFile::create(const std::string& path) {
    const HANDLE handle = openPath(path, CREATE_NEW);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    return std::unique_ptr<ArchiveFile>(new ArchiveFile(reinterpret_cast<intptr_t>(handle)));
}

std::unique_ptr<ArchiveFile> ArchiveFile::openExisting(const std::string& path) {
    const HANDLE handle = openPath(path, OPEN_EXISTING);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    std::unique_ptr<ArchiveFile> file(new ArchiveFile(reinterpret_cast<intptr_t>(handle)));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0)
        return nullptr;
    return file;
}

ArchiveFile::~ArchiveFile() { close(); }

size_t ArchiveFile::writeAt(uint64_t position, std::span<const std::byte> bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const auto piece = static_cast<DWORD>(std::min(bytes.size() - done, largestTransfer));
        OVERLAPPED place = at(position + done);
        DWORD written = 0;
        const BOOL ok = WriteFile(handleOf(handle_), bytes.data() + done, piece, &written, &place);
        done += written;
        if (!ok || written == 0) break;
    }
    return done;
}

bool ArchiveFile::readAt(uint64_t position, std::span<std::byte> bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const auto piece = static_cast<DWORD>(std::min(bytes.size() - done, largestTransfer));
        OVERLAPPED place = at(position + done);
        DWORD read = 0;
        if (!ReadFile(handleOf(handle_), bytes.data() + done, piece, &read, &place) || read == 0) return false;
        done += read;
    }
    return true;
}

std::optional<uint64_t> ArchiveFile::size() {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(handleOf(handle_), &size)) return std::nullopt;
    return static_cast<uint64_t>(size.QuadPart);
}

bool ArchiveFile::truncate(uint64_t length) {
    LARGE_INTEGER position{};
    position.QuadPart = static_cast<LONGLONG>(length);
    return SetFilePointerEx(handleOf(handle_), position, nullptr, FILE_BEGIN) && SetEndOfFile(handleOf(handle_));
}

bool ArchiveFile::close() {
    if (handle_ == closedHandle) return true;
    const BOOL closed = CloseHandle(handleOf(handle_));
    handle_ = closedHandle;
    return closed != 0;
}

// Windows has no file size limit of its own.
void letWritesFailAtFileSizeLimit() {}

}  // namespace quilbex::platform
