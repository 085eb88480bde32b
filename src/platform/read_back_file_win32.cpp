#include <windows.h>

#include <algorithm>

#include "platform/read_back_file.hpp"

namespace quilbex::platform {
namespace {

HANDLE handleOf(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

ReadBackFile::~ReadBackFile() { close(); }

// Without buffering every read goes to the disk; such reads need buffers
// and sizes aligned to the disk's sectors, which `alignment` covers.
SystemError ReadBackFile::open(const std::string& path) {
    close();
    const HANDLE handle =
        CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_NO_BUFFERING, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return SystemError::last();
    handle_ = reinterpret_cast<intptr_t>(handle);
    return {};
}

SystemError ReadBackFile::read(std::span<std::byte> buffer, size_t& got) {
    got = 0;
    while (got < buffer.size()) {
        DWORD n = 0;
        const auto piece = static_cast<DWORD>(std::min<size_t>(buffer.size() - got, DWORD{1} << 30));
        if (!ReadFile(handleOf(handle_), buffer.data() + got, piece, &n, nullptr)) return SystemError::last();
        if (n == 0) break;
        got += n;
        if (n < piece) break;  // the end of the file, which need not be aligned
    }
    return {};
}

void ReadBackFile::close() {
    if (handle_ == closedHandle) return;
    CloseHandle(handleOf(handle_));
    handle_ = closedHandle;
}

}  // namespace quilbex::platform
