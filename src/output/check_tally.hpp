#pragma once
// What the check (-c) of a destination found.

#include <cstdint>
#include <string>
#include <vector>

namespace quilbex::output {

struct CheckTally {
    uint64_t files = 0;      // checked: WAV files in a folder, entries in a zip
    uint64_t bytesRead = 0;  // read back from the disk
    // One line for each file that is not as the card gave it, in the order
    // the files were written.
    std::vector<std::string> differing;
    // The names of the files those lines are of (in a zip, the entries'),
    // for telling them by name where a line will not do.
    std::vector<std::string> differingNames;
    // Lines of what failed besides, such as a checksum file not written.
    std::vector<std::string> failures;

    CheckTally& operator+=(const CheckTally& other) {
        files += other.files;
        bytesRead += other.bytesRead;
        differing.insert(differing.end(), other.differing.begin(), other.differing.end());
        differingNames.insert(differingNames.end(), other.differingNames.begin(), other.differingNames.end());
        failures.insert(failures.end(), other.failures.begin(), other.failures.end());
        return *this;
    }
};

}  // namespace quilbex::output
