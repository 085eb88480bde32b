#pragma once
// How the reading of one recording ended, as the reader hands it to the
// writer with the recording's last chunk.

#include <cstdint>

#include "card/sector_reader.hpp"
#include "card/sector_rescue.hpp"
#include "platform/system_error.hpp"

namespace quilbex::exporting {

struct RecordingEnd {
    enum class Reason {
        complete,     // every block read
        seekFailed,   // the seek to `block` failed with seekError; the blocks before it are stored
        seekRefused,  // the seek to `block` was refused after earlier blocks were read
        readFailed,   // reading `block` failed, or the rescue stopped there (rescueStop);
                      // the blocks before it are stored, the export ends
        interrupted,  // the stop signal came before or while reading `block`; the export ends
    };
    Reason reason = Reason::complete;
    int32_t block = 0;
    platform::SystemError seekError;
    card::ReadFailure readFailure;
    card::RescueStop rescueStop = card::RescueStop::none;
};

}  // namespace quilbex::exporting
