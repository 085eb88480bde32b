#pragma once
// Names in the form monitoring programmes ask for, PREFIX_YYYYMMDD_HHMMSS.wav,
// from each file's own start time (option -n). Files of two recordings may
// start in the same second (a clock set back, or never set): in card order
// the first keeps the plain name, the next get _1, _2, ... after the time. A
// start that is no valid date gives PREFIX_NNNN.wav from the recording's
// number, and PREFIX_NNNN_NNN.wav for its pieces.
//
// Only recordings whose span of start times meets another's can share a
// second, so only their files are remembered during a walk; on a card whose
// clock ran forward that is none.

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/dos_time.hpp"
#include "scan/recording_table.hpp"

namespace quilbex::output {

class PrefixNames {
public:
    PrefixNames(const scan::RecordingTable& table, std::string prefix, uint32_t secondsPerFile);

    // Names the files of one walk over the plan, which must come in card
    // order.
    class Walk {
    public:
        explicit Walk(const PrefixNames& names) : names_(names) {}
        // The name of piece `piece` (-1: the whole recording) of `recording`.
        std::string name(int32_t recording, int32_t piece, const platform::CalendarTime& start);

    private:
        const PrefixNames& names_;
        // Start seconds of the shared spans' files named so far: how many.
        std::unordered_map<int64_t, uint32_t> taken_;
    };

private:
    std::string prefix_;
    // Recording k's start times meet another recording's: indexed by k.
    std::vector<bool> shared_;
};

}  // namespace quilbex::output
