#include "output/recording_name.hpp"

#include "platform/console.hpp"

namespace quilbex::output {

std::string recordingName(int32_t index, uint32_t dosDateTime) {
    return fileName(index, platform::decodeDosDateTime(dosDateTime));
}

std::string fileName(int32_t index, const platform::CalendarTime& t) {
    return platform::formatText("wav%04d_%04d_%02d_%02d__%02d_%02d_%02d.wav", index, t.year, t.month, t.day, t.hour,
                                t.minute, t.second);
}

std::string numberedPieceName(const std::string& recordingName, int32_t piece) {
    const std::string stem = recordingName.substr(0, recordingName.size() - 4);  // less ".wav"
    return stem + platform::formatText("_%03d", piece) + ".wav";
}

}  // namespace quilbex::output
