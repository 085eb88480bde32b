#include "zip/entry_time.hpp"

namespace quilbex::zip {

EntryDate makeFileInfo(const EntryTime& time, uint32_t storedDosDateTime) {
    const platform::DosTimeConversion conversion = platform::toDosDateTime(time);
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

}  // namespace quilbex::zip
