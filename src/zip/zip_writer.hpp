#pragma once
// The archive: one raw-deflated entry per recording, compressed by the
// caller, each dated with the recording's start time. Entries are streamed:
// each chunk of deflated data goes to the file as it comes, and the writer
// keeps only the central directory of the finished entries. The archive is
// valid zip whatever the entry count and sizes (zip64 where needed), and
// stays so when a write fails, holding the entries finished before.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/archive_file.hpp"
#include "zip/zip_records.hpp"

namespace quilbex::zip {

class ZipWriter {
public:
    ZipWriter() = default;
    ~ZipWriter();  // closes the archive if still open
    ZipWriter(const ZipWriter&) = delete;
    ZipWriter& operator=(const ZipWriter&) = delete;

    // Makes a new archive, which fails when anything is at the path already.
    // False, lastError() saying why, when it cannot be made; every later
    // call then fails and touches nothing.
    bool open(const std::string& path);

    // Begins an entry of already deflated data (level 1 flags). zip64 is
    // decided from the uncompressed size known before the entry opens.
    // Once one of these three calls has failed, every later one fails too
    // and touches nothing, until close().
    bool beginEntry(const std::string& name, uint32_t dosDate, uint64_t expectedSize);
    // False when the file took not all of the bytes.
    bool writeCompressed(std::span<const std::byte> compressed);
    // Ends the entry with the uncompressed size and CRC-32 of what it holds.
    bool finishEntry(uint64_t uncompressedSize, uint32_t crc);

    // Puts every entry finished so far on the disk; false when that failed,
    // which fails the archive as a failed write does.
    bool flush();

    // Finishes the archive with the central directory of every finished
    // entry, flushes it to the device and closes it; an entry begun and not
    // finished is left out. True when all of that succeeded. False after a
    // failed call above, or when the directory, the flush or the close
    // failed: the archive then keeps every entry finished before the failure
    // if their directory can still be written after them, else the most of
    // them whose directory fits into the room the file had already reached
    // (the later ones are dropped); should even that directory fail, those
    // entries stay whole for a recovering reader.
    bool close();

    // The entry finished last, as the central directory lists it.
    const EntryRecord& lastFinished() const { return lastFinished_; }
    // After close(): how many of the finished entries the archive kept (all
    // but after a failure), and the bytes written after their data: the
    // central directory and the end records.
    uint64_t keptEntries() const { return kept_.entries; }
    uint64_t keptDataEnd() const { return kept_.dataEnd; }
    std::vector<std::byte> keptEnd() const;

    // Why the first failed call since open() failed; no error when nothing
    // failed, or when what failed was no system call (a name too long).
    platform::SystemError lastError() const { return lastError_; }

private:
    // The archive up to one finished entry, or the empty one.
    struct Mark {
        uint64_t entries = 0;
        uint64_t dataEnd = 0;     // where its last entry's data ends
        size_t directoryEnd = 0;  // the size of its part of directory_
    };

    bool fail();
    bool write(std::span<const std::byte> bytes);
    bool writeEnd(const Mark& mark);
    void keepFewerThatFit();

    std::unique_ptr<platform::ArchiveFile> file_;
    platform::SystemError lastError_;
    bool failed_ = false;    // a call failed since open(); lastError_ holds the first failure's reason
    uint64_t position_ = 0;  // where the next byte of entry data goes
    uint64_t reached_ = 0;   // the furthest byte the file is known to hold
    std::optional<EntryRecord> entry_;  // the entry begun and not finished
    // The central headers of the entries finished so far, in order, and a
    // mark for the empty archive and one for each finished entry.
    std::vector<std::byte> directory_;
    std::vector<Mark> marks_;
    Mark kept_;  // the mark whose end was written last
    EntryRecord lastFinished_;
};

}  // namespace quilbex::zip
