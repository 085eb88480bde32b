#include "read_log.hpp"

#include <cerrno>
#include <fcntl.h>
#include <cstdio>
#include <system_error>
#include <unistd.h>

namespace cardfs {

ReadLog::ReadLog(const std::string& path)
    : fd_(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644)) {
    if (fd_ < 0) {
        throw std::system_error(errno, std::generic_category(), "cannot open log " + path);
    }
}

ReadLog::~ReadLog() { ::close(fd_); }

void ReadLog::record_read(std::uint64_t offset, std::size_t length, long long result) const {
    char line[80];
    int n = std::snprintf(line, sizeof line, "%llu %zu %lld\n",
                          static_cast<unsigned long long>(offset), length, result);
    append(line, static_cast<std::size_t>(n));
}

void ReadLog::record_refused_open(int flags) const {
    char line[40];
    int n = std::snprintf(line, sizeof line, "open-refused %o\n", static_cast<unsigned>(flags));
    append(line, static_cast<std::size_t>(n));
}

// A lost log line only weakens a test's evidence; it must never turn into a
// failed read, so write errors are deliberately ignored.
void ReadLog::append(const char* line, std::size_t size) const {
    [[maybe_unused]] ssize_t written = ::write(fd_, line, size);
}

}  // namespace cardfs
