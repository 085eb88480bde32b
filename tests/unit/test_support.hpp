#pragma once
// Shared helpers of the unit tests: a console over memory streams, a raw
// device that wraps a real one and can be told to fail, temporary directories,
// a file size limit and card images written by quilbex-mkcard.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "platform/console.hpp"
#include "platform/raw_device.hpp"

namespace quilbex::testing {

// A console whose output and error go to memory and whose input is a given
// text; its output goes to `out` instead when given. flushedOut()/flushedErr()
// show only what the code under test flushed; out()/err() flush first and
// show everything written.
class CapturedConsole {
public:
    explicit CapturedConsole(const std::string& input = {}, std::FILE* out = nullptr)
        : outStream_(open_memstream(&outBuffer_, &outSize_)),
          errStream_(open_memstream(&errBuffer_, &errSize_)),
          inStream_(std::tmpfile()),
          console_(out ? out : outStream_, errStream_, inStream_) {
        std::fwrite(input.data(), 1, input.size(), inStream_);
        std::rewind(inStream_);
    }
    ~CapturedConsole() {
        std::fclose(outStream_);
        std::fclose(errStream_);
        std::fclose(inStream_);
        std::free(outBuffer_);
        std::free(errBuffer_);
    }
    CapturedConsole(const CapturedConsole&) = delete;
    CapturedConsole& operator=(const CapturedConsole&) = delete;

    platform::Console& console() { return console_; }

    std::string out() {
        std::fflush(outStream_);
        return flushedOut();
    }
    std::string err() {
        std::fflush(errStream_);
        return flushedErr();
    }
    // A memory stream publishes its bytes only when flushed.
    std::string flushedOut() const { return {outBuffer_ ? outBuffer_ : "", outSize_}; }
    std::string flushedErr() const { return {errBuffer_ ? errBuffer_ : "", errSize_}; }

    // The input not read yet.
    std::string unreadInput() {
        std::string rest;
        for (int c = std::fgetc(inStream_); c != EOF; c = std::fgetc(inStream_)) rest.push_back(static_cast<char>(c));
        return rest;
    }

private:
    char* outBuffer_ = nullptr;
    size_t outSize_ = 0;
    char* errBuffer_ = nullptr;
    size_t errSize_ = 0;
    std::FILE* outStream_;
    std::FILE* errStream_;
    std::FILE* inStream_;
    platform::Console console_;
};

// Wraps a real device, records every seek, and misbehaves where told to.
class ScriptedDevice final : public platform::RawDevice {
public:
    explicit ScriptedDevice(std::unique_ptr<platform::RawDevice> inner) : inner_(std::move(inner)) {}

    // Seeks to this offset fail with the code.
    std::map<int64_t, int> failingSeeks;
    // The most one read delivers; the caller must ask again for the rest.
    uint32_t largestRead = UINT32_MAX;
    // The read after this many successful reads returns this result instead.
    std::optional<std::pair<int, platform::ReadResult>> failingRead;
    // Every read after a seek to this offset fails with the code.
    std::map<int64_t, int> unreadable;

    std::vector<int64_t> seeks;

    platform::SeekResult seek(int64_t offset) override {
        seeks.push_back(offset);
        if (const auto it = failingSeeks.find(offset); it != failingSeeks.end()) return {-1, it->second};
        lastSeek_ = offset;
        return inner_->seek(offset);
    }

    platform::ReadResult read(std::byte* destination, uint32_t length) override {
        if (failingRead && failingRead->first == reads_) return failingRead->second;
        if (const auto it = unreadable.find(lastSeek_); it != unreadable.end()) return {false, 0, it->second};
        ++reads_;
        return inner_->read(destination, std::min(length, largestRead));
    }

    size_t bufferAlignment() const override { return inner_->bufferAlignment(); }

    // Reads passed on to the real device.
    int reads() const { return reads_; }

    // Block indexes of the seeks, for a walk that seeks to block starts.
    std::vector<int64_t> seekedBlocks(int64_t blockSize) const {
        std::vector<int64_t> blocks;
        for (int64_t offset : seeks) blocks.push_back(offset / blockSize);
        return blocks;
    }

private:
    std::unique_ptr<platform::RawDevice> inner_;
    int reads_ = 0;
    int64_t lastSeek_ = -1;
};

// A directory removed with everything in it at the end of the test.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "quilbex-unit-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string path(const std::string& name) const { return (path_ / name).string(); }

    // A file of the given bytes.
    std::string write(const std::string& name, const std::string& bytes) const {
        std::ofstream(path(name), std::ios::binary) << bytes;
        return path(name);
    }

    // A file of the given length holding nothing but a hole.
    std::string sparse(const std::string& name, int64_t length) const {
        std::ofstream(path(name), std::ios::binary).close();
        std::filesystem::resize_file(path(name), static_cast<uintmax_t>(length));
        return path(name);
    }

private:
    std::filesystem::path path_;
};

// Lowers the process's file size limit while it lives: a write past `bytes`
// then writes what fits and fails with EFBIG, as on a disk that fills up.
class FileSizeLimit {
public:
    explicit FileSizeLimit(uint64_t bytes) : oldHandler_(std::signal(SIGXFSZ, SIG_IGN)) {
        if (::getrlimit(RLIMIT_FSIZE, &old_) != 0) throw std::runtime_error("getrlimit failed");
        rlimit limit = old_;
        limit.rlim_cur = static_cast<rlim_t>(bytes);
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) throw std::runtime_error("setrlimit failed");
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    void (*oldHandler_)(int);
    rlimit old_{};
};

// quilbex-mkcard from $QUILBEX_MKCARD, else next to this test binary in the
// build tree; empty when neither exists.
inline std::string mkcardPath() {
    if (const char* env = std::getenv("QUILBEX_MKCARD"); env && *env) return env;
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return {};
    const auto candidate = self.parent_path().parent_path() / "tools" / "mkcard" / "quilbex-mkcard";
    return std::filesystem::exists(candidate) ? candidate.string() : std::string();
}

#define QUILBEX_REQUIRE_MKCARD()                                                          \
    do {                                                                                  \
        if (::quilbex::testing::mkcardPath().empty())                                     \
            GTEST_SKIP() << "quilbex-mkcard not found: set QUILBEX_MKCARD to run this test"; \
    } while (0)

// Writes a card image with quilbex-mkcard; arguments are passed as given
// (options before the output path, items after it).
inline std::string makeCard(const TempDir& dir, const std::string& name, const std::vector<std::string>& items,
                            const std::vector<std::string>& options = {"--payload", "sparse"}) {
    auto quote = [](const std::string& s) { return "'" + s + "'"; };
    std::string command = quote(mkcardPath());
    for (const auto& option : options) command += " " + quote(option);
    command += " " + quote(dir.path(name));
    for (const auto& item : items) command += " " + quote(item);
    const int status = std::system(command.c_str());
    if (status != 0) throw std::runtime_error("quilbex-mkcard failed: " + command);
    return dir.path(name);
}

// The card as the tool opens it, behind a ScriptedDevice.
inline std::unique_ptr<ScriptedDevice> openScripted(const std::string& path) {
    auto opened = platform::openRawDevice(path);
    if (!opened.device) throw std::runtime_error("cannot open " + path);
    return std::make_unique<ScriptedDevice>(std::move(opened.device));
}

// An MS-DOS date/time from its fields as stored (the seconds field counts
// two-second steps), valid or not.
inline uint32_t dosDateTime(int year, int month, int day, int hour, int minute, int secondField) {
    return static_cast<uint32_t>((year - 1980) << 25 | month << 21 | day << 16 | hour << 11 | minute << 5 |
                                 secondField);
}

}  // namespace quilbex::testing
