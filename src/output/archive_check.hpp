#pragma once
// The check of a zip archive (-c), once it is flushed and closed: the whole
// file is read back from the disk, past the system's cache, and each part
// compared with what was written: every local header, the central directory
// and the end records byte for byte, and every entry's deflate data by
// inflating it (ISA-L) and comparing its length and CRC-32 with those of the
// card's bytes as they were read, before compression: so the archive is
// proved to hold the card's bytes whatever went wrong on the way, the disk
// or the deflater (a changed bit of deflate data either breaks the stream
// or changes what it inflates to). The check then writes the SHA-256 of the
// whole file read back beside the archive as NAME.zip.sha256.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "output/check_tally.hpp"
#include "zip/zip_records.hpp"

namespace quilbex::output {

// An entry as it was written: its record in the directory, whose CRC-32 and
// length are the card's bytes'.
struct WrittenEntry {
    zip::EntryRecord record;
};

// What the archive at path should hold: the entries, in the order of their
// offsets, then `end` (central directory and end records) from `dataEnd`.
struct WrittenArchive {
    std::string path;
    std::vector<WrittenEntry> entries;
    uint64_t dataEnd = 0;
    std::vector<std::byte> end;
};

// Reads the archive back and compares it; with every part identical, writes
// NAME.zip.sha256 (a failure to write it is told apart from a difference).
CheckTally checkArchive(const WrittenArchive& archive);

// The same check while the archive is written: each entry, once finished
// and flushed, is read back on a thread of its own while the next one is
// written (up to the last whole page before its end, which the next entry's
// header shares); after close() the rest, the directory with it. An archive
// that kept fewer entries than were finished (after a failure, it was cut
// back) is read back whole again instead.
class ArchiveReadBack {
public:
    explicit ArchiveReadBack(std::string path);
    ~ArchiveReadBack();  // stops the reading thread
    ArchiveReadBack(const ArchiveReadBack&) = delete;
    ArchiveReadBack& operator=(const ArchiveReadBack&) = delete;

    // The entry is whole and on the disk: called in the order of the entries.
    void entryFlushed(const WrittenEntry& entry);
    // Once the archive is closed: it kept `keptEntries` of the entries, then
    // `end` (directory and end records) from `dataEnd`.
    CheckTally finish(uint64_t keptEntries, uint64_t dataEnd, std::vector<std::byte> end);

private:
    struct State;
    void run();
    static void readUpTo(State& state, uint64_t limit);

    std::unique_ptr<State> state_;
    std::vector<WrittenEntry> written_;  // every entry flushed: the writer's
};

}  // namespace quilbex::output
