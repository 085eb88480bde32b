#pragma once
// The archive: one raw-deflated entry per recording, compressed by the
// caller, each dated with the recording's start time. The archive is valid
// zip whatever the entry count and sizes (zip64 where needed).

#include <cstdint>
#include <span>
#include <string>

namespace quilbex::exporting {

class ZipWriter {
public:
    ZipWriter() = default;
    ~ZipWriter();  // closes the archive if still open
    ZipWriter(const ZipWriter&) = delete;
    ZipWriter& operator=(const ZipWriter&) = delete;

    // Mode 2 adds to an existing archive; any other mode creates a new one.
    // False, with lastError() -1, when the archive cannot be opened; every
    // later call then fails and touches nothing.
    bool open(const std::string& path, int mode);

    // Begins an entry of already deflated data (level 1 flags). zip64 is
    // decided from the uncompressed size known before the entry opens.
    bool beginEntry(const std::string& name, uint32_t dosDate, uint64_t expectedSize);
    // False, with lastError() -1, when the archive refused the bytes.
    bool writeCompressed(std::span<const std::byte> compressed);
    // Ends the entry with the uncompressed size and CRC-32 of what it holds.
    bool finishEntry(uint64_t uncompressedSize, uint32_t crc);

    // Finishes the archive: central directory and end records. An entry
    // still open is ended with size and CRC 0, so finish it first.
    void close();

    bool isOpen() const { return handle_ != nullptr; }
    int lastError() const { return lastError_; }  // minizip's code; 0 after success

private:
    std::string path_;
    void* handle_ = nullptr;  // minizip's zipFile
    int lastError_ = 0;
};

}  // namespace quilbex::exporting
