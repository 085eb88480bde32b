#pragma once
// The export's files as the entries of one new zip archive, each dated with
// its start time (a start that is no valid date keeps the value it was
// decoded from, with a warning).

#include <optional>
#include <string>
#include <vector>

#include "output/archive_check.hpp"
#include "output/destination.hpp"
#include "zip/zip_writer.hpp"

namespace quilbex::output {

class ZipDestination final : public Destination {
public:
    // Makes the archive at path, where nothing may be yet. False when it
    // cannot: every file then fails, and close() too.
    bool open(const std::string& path);
    // Reads the archive back, each entry once it is flushed, while the next
    // is written (output/archive_check). Before open().
    void checkArchive() { checking_ = true; }

    bool takesDeflated() const override { return true; }
    bool beginFile(const FileHeading& file) override;
    bool write(std::span<const std::byte> bytes) override;
    bool finishFile(const FileEnd& end) override;
    bool close() override;
    // Why the archive failed, when a system call said so.
    platform::SystemError lastError() const;
    std::vector<std::string> failureLines() const override;
    std::vector<std::string> fileWarnings() const override { return warnings_; }
    CheckTally finishChecks() override;

private:
    zip::ZipWriter zip_;
    bool opened_ = false;
    bool checking_ = false;
    std::optional<ArchiveReadBack> readBack_;  // when checking an archive made
    std::vector<std::string> warnings_;        // of the file begun last
};

}  // namespace quilbex::output
