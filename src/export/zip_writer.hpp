#pragma once
// The archive: one raw-deflated entry per recording, compressed by the
// caller, each dated with the recording's start time. The archive is valid
// zip whatever the entry count and sizes (zip64 where needed), and stays so
// when a write fails, holding the entries finished before the failure.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "export/zip_salvage.hpp"

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
    // Once one of these three calls has failed, every later one fails too
    // and touches nothing, until close().
    bool beginEntry(const std::string& name, uint32_t dosDate, uint64_t expectedSize);
    // False, with lastError() -1, when the archive refused the bytes.
    bool writeCompressed(std::span<const std::byte> compressed);
    // Ends the entry with the uncompressed size and CRC-32 of what it holds.
    bool finishEntry(uint64_t uncompressedSize, uint32_t crc);

    // Finishes the archive: central directory and end records. An entry
    // still open is ended with size and CRC 0, so finish it first. After a
    // failed call, or when the directory cannot be written, the archive is
    // salvaged instead: it keeps exactly the entries finished before, and
    // lastError() still tells the failure.
    void close();

    bool isOpen() const { return handle_ != nullptr; }
    int lastError() const { return lastError_; }  // minizip's code; 0 after success

private:
    bool fail(int error);

    std::string path_;
    void* handle_ = nullptr;  // minizip's zipFile
    int lastError_ = 0;
    bool failed_ = false;  // a begin, write or finish failed since open()
    // The entries whole in the archive: those it held when opened, then one
    // per finished entry. Nothing when an appended archive's count is
    // unknown, which rules out the salvage.
    std::optional<uint64_t> finishedEntries_;
    uint64_t entryCompressedSize_ = 0;  // handed to the open entry so far
    std::vector<LongCompressedEntry> longEntries_;  // ascending indexes
};

}  // namespace quilbex::exporting
