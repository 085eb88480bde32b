#pragma once
// Where the export's files go: the entries of one zip archive, or WAV files
// in a folder. The pipeline's writer hands every file through this seam, one
// after another in the order of the plan, and knows nothing of either.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "output/check_tally.hpp"
#include "platform/dos_time.hpp"
#include "platform/sha256.hpp"

namespace quilbex::output {

// What a destination is told of a file before its first byte.
struct FileHeading {
    std::string name;              // e.g. wav0000_2017_03_05__14_07_32.wav
    platform::CalendarTime start;  // the file's start on the recorder's clock; may be no valid date
    uint32_t storedStart = 0;      // the MS-DOS value a whole recording's start was decoded from
    uint64_t plannedSize = 0;      // its bytes when read whole: WAV header, payload, metadata
};

// What the pipeline worked out of a file's own bytes, in the order they
// were handed to write().
struct FileEnd {
    uint64_t length = 0;
    uint32_t crc = 0;                 // for a destination that takes deflated data, else 0
    platform::Sha256Digest digest{};  // for one that wantsDigest(), else zeros
};

// Not for concurrent use: only the pipeline's writer thread calls it.
class Destination {
public:
    virtual ~Destination() = default;

    // True when write() takes each file as one raw deflate stream, false when
    // it takes the file's own bytes.
    virtual bool takesDeflated() const = 0;
    // True when finishFile() is to get the SHA-256 of the file's own bytes
    // (a folder's checksum list): the pipeline hashes them on a thread of
    // its own, ahead of the writes, so the hash never holds up the disk.
    virtual bool wantsDigest() const { return false; }

    // Each of these is false once the destination has failed (failureLines()
    // says why); every later call then fails too and touches nothing, until
    // close().
    virtual bool beginFile(const FileHeading& file) = 0;
    virtual bool write(std::span<const std::byte> bytes) = 0;
    // Ends the file begun last.
    virtual bool finishFile(const FileEnd& end) = 0;

    // Ends the destination with every file finished so far on the disk. True
    // when all of that succeeded; a file begun and not finished is left as
    // the destination's failure rules say.
    virtual bool close() = 0;

    // The lines that follow the progress line once the destination failed,
    // on standard error.
    virtual std::vector<std::string> failureLines() const = 0;

    // After close(), with the check (-c) asked for: waits for the checks of
    // the files still being read back, and returns what every check found.
    virtual CheckTally finishChecks() { return {}; }

    // Lines to print after the progress line of the file begun last, such
    // as a start that could not be its date; none unless a destination has
    // some.
    virtual std::vector<std::string> fileWarnings() const { return {}; }
};

}  // namespace quilbex::output
