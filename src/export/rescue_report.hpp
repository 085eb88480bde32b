#pragma once
// What the rescue (option -r) tells the user: with -V one line per block with
// unreadable sectors, as the blocks are stored; at the end one line per file
// (a recording, or a piece of one) with unreadable sectors and a summary, on
// standard error.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "card/sector_rescue.hpp"
#include "export/chunk.hpp"
#include "platform/console.hpp"
#include "scan/recording_table.hpp"

namespace quilbex::exporting {

struct DamagedRecording {
    int32_t recording = 0;
    uint64_t unreadableBytes = 0;  // zero-filled, in whole card sectors
    uint32_t places = 0;           // runs of adjacent unreadable sectors
    std::string name;              // of the file that holds them
};

// What the export met, as the writer stored the entries.
struct ExportRescue {
    std::vector<DamagedRecording> damaged;  // in file order
    // Entries stored whole: not those cut short where the reading stopped.
    int32_t storedWhole = 0;
    card::RescueStop stop = card::RescueStop::none;
};

// Collects the damage of each file as the writer stores it. Runs on the
// writer's thread.
class RescueTally {
public:
    // startsTakenFromNext: as in the recording table, for the block lines.
    RescueTally(platform::Console& console, bool verbose, const std::vector<int32_t>& startsTakenFromNext)
        : console_(console), verbose_(verbose), startsTakenFromNext_(startsTakenFromNext) {}

    void beginFile(int32_t k, const std::string& name);
    // With -V, prints the line of a block with unreadable sectors.
    void addBlock(const BlockDamage& damage);
    // The unreadable sectors of a block that lie in the file.
    void addToFile(const BlockDamage& damage);
    void endFile();
    void endRecording(bool storedWhole);
    void stop(card::RescueStop why) { result_.stop = why; }

    const ExportRescue& result() const { return result_; }

private:
    std::string blockLine(const BlockDamage& damage) const;

    platform::Console& console_;
    bool verbose_;
    const std::vector<int32_t>& startsTakenFromNext_;
    ExportRescue result_;
    DamagedRecording current_;
    // Set while the last damaged block ended unreadable: the block after it,
    // whose run of unreadable sectors continues that place.
    std::optional<int32_t> runReachesBlock_;
};

// The whole run as the final report sees it.
struct RescueSummary {
    int32_t found = 0;
    ExportRescue exported;
    uint64_t unreadableOutside = 0;  // header sectors the scan could not read, in no recording
    card::RescueStop stop = card::RescueStop::none;

    // Whether any sector stayed unreadable: the run then ends with status 1.
    bool anyUnreadable() const;
};

// One line per damaged recording, then the summary, without their newlines.
std::vector<std::string> rescueReportLines(const RescueSummary& summary);
// The same lines on standard error.
void printRescueReport(platform::Console& console, const RescueSummary& summary);

}  // namespace quilbex::exporting
