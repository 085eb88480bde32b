#pragma once
// Picking up a folder export (-d) where an earlier run stopped (a Ctrl-C, a
// pulled cable, a full disk). Before its first file every folder export
// leaves the card's fingerprint in the folder: a hash of the header sectors
// the scan reads anyway (each holds sound, noise no other card repeats) and
// of the options that shape the files (-s, -g, -z, -n). A later run with the
// same fingerprint keeps every file that its checksum list names, that has
// the size the plan gives it, and whose bytes read back from the disk hash as
// listed; it writes only the others. A folder of another card, or of the same
// card cut otherwise, is no resume: it is replaced as any folder is.
//
// The list is read in step with the plan, as the runs write it; so it is
// never held whole, however many files a card makes.

#include <atomic>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "output/file_plan.hpp"
#include "platform/sha256.hpp"
#include "platform/system_error.hpp"

namespace quilbex::output {

inline constexpr std::string_view fingerprintName = ".quilbex-card";

// The fingerprint of a card whose header sectors hash to `headers`, cut
// into files with `options`.
std::string cardFingerprint(const platform::Sha256Digest& headers, const PlanOptions& options);

// Leaves the fingerprint in the folder, replacing one there. No error on
// success.
platform::SystemError writeFingerprint(const std::string& folder, const std::string& fingerprint);

struct DoneFiles {
    std::vector<bool> done;  // by the file's index in the plan
    uint64_t count = 0;      // of true in done
    // Recordings whose last file is done: the export will not end them.
    int32_t recordingsEnded = 0;
    // Their checksum list lines, in plan order.
    std::vector<std::pair<platform::Sha256Digest, std::string>> listed;
    // The stop signal came before every listed file was read back: the
    // run is to end before it writes anything.
    bool interrupted = false;
};

// The plan's files that an earlier run of this card and these options left
// whole in the folder (with none, an empty set); nothing when the folder
// holds no such run.
// The read-back of the files, which may take minutes, ends at a non-zero
// stop signal.
std::optional<DoneFiles> findDoneFiles(const std::string& folder, const FilePlan& plan,
                                       const std::string& fingerprint, const std::atomic<int>* stopSignal);

}  // namespace quilbex::output
