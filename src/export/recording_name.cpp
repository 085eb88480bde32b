#include "export/recording_name.hpp"

#include "platform/console.hpp"
#include "platform/dos_time.hpp"

namespace quilbex::exporting {

std::string recordingName(int32_t index, uint32_t dosDateTime) {
    const platform::CalendarTime t = platform::decodeDosDateTime(dosDateTime);
    return platform::formatText("wav%04d_%04d_%02d_%02d__%02d_%02d_%02d.wav", index, t.year, t.month, t.day, t.hour,
                                t.minute, t.second);
}

}  // namespace quilbex::exporting
