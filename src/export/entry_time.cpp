#include "export/entry_time.hpp"

#include "platform/console.hpp"
#include "platform/dos_time.hpp"

namespace quilbex::exporting {

EntryTime entryTimeFrom(uint32_t dosDateTime) {
    const scan::DosDateTime fields = scan::decodeDosDateTime(dosDateTime);
    return {fields.second, fields.minute, fields.hour, fields.day, fields.month, fields.year};
}

EntryDate makeFileInfo(const EntryTime& time, uint32_t storedDosDateTime) {
    const platform::DosTimeConversion conversion =
        platform::toDosDateTime({time.year, time.month, time.day, time.hour, time.minute, time.second});
    if (conversion.fileTimeError != 0) {
        return {storedDosDateTime,
                {"Warning: Can't convert to file date/time.(" + std::to_string(conversion.fileTimeError) + ")"}};
    }
    if (conversion.dosTimeError != 0) {
        return {storedDosDateTime,
                {"Warning: Can't convert to dos date/time.(" + std::to_string(conversion.dosTimeError) + ")"}};
    }
    return {conversion.dosDateTime, {}};
}

std::string recordingName(int32_t index, uint32_t dosDateTime) {
    const EntryTime t = entryTimeFrom(dosDateTime);
    return platform::formatText("wav%04d_%04d_%02d_%02d__%02d_%02d_%02d.wav", index, t.year, t.month, t.day, t.hour,
                                t.minute, t.second);
}

}  // namespace quilbex::exporting
