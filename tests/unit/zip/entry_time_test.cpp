#include <gtest/gtest.h>

#include "output/recording_name.hpp"
#include "platform/dos_time.hpp"
#include "test_support.hpp"
#include "zip/entry_time.hpp"

namespace quilbex::zip {
namespace {

using output::recordingName;
using platform::decodeDosDateTime;
using testing::dosDateTime;

constexpr uint32_t march5th2017At140732 = 0x4A6570F0;

const std::string fileTimeWarning = "Warning: Can't convert to file date/time.(22)";
const std::string dosTimeWarning = "Warning: Can't convert to dos date/time.(22)";

void expectDateTime(uint32_t value, int year, int month, int day, int hour, int minute, int second) {
    const EntryTime t = decodeDosDateTime(value);
    EXPECT_EQ(t.year, year) << std::hex << value;
    EXPECT_EQ(t.month, month) << std::hex << value;
    EXPECT_EQ(t.day, day) << std::hex << value;
    EXPECT_EQ(t.hour, hour) << std::hex << value;
    EXPECT_EQ(t.minute, minute) << std::hex << value;
    EXPECT_EQ(t.second, second) << std::hex << value;
}

TEST(DosDateTime, decodes_date_in_the_high_half_and_time_in_the_low_half) {
    expectDateTime(march5th2017At140732, 2017, 3, 5, 14, 7, 32);
    expectDateTime(0x4ACFABD6, 2017, 6, 15, 21, 30, 44);
    expectDateTime(0x4A65709A, 2017, 3, 5, 14, 4, 52);
}

TEST(DosDateTime, takes_fields_as_they_stand_without_checking) {
    expectDateTime(0x00000000, 1980, 0, 0, 0, 0, 0);
    expectDateTime(0xFFFFFFFF, 2107, 15, 31, 31, 63, 62);
}

TEST(EntryTime, valid_stored_time_comes_back_unchanged) {
    for (const uint32_t stored : {march5th2017At140732, dosDateTime(1980, 1, 1, 0, 0, 0),
                                  dosDateTime(2107, 12, 31, 23, 59, 29), dosDateTime(2016, 2, 29, 12, 0, 0),
                                  dosDateTime(2000, 2, 29, 12, 0, 0)}) {
        SCOPED_TRACE(stored);
        const EntryDate date = makeFileInfo(decodeDosDateTime(stored), stored);
        EXPECT_EQ(date.dosDate, stored);
        EXPECT_TRUE(date.warnings.empty());
    }
}

TEST(EntryTime, invalid_calendar_time_keeps_the_stored_value_with_a_warning) {
    for (const uint32_t stored : {dosDateTime(2017, 3, 5, 14, 7, 30),  // second 60
                                  dosDateTime(2017, 13, 5, 14, 7, 16), dosDateTime(2017, 0, 5, 14, 7, 16),
                                  dosDateTime(2017, 4, 31, 14, 7, 16), dosDateTime(2017, 4, 0, 14, 7, 16),
                                  dosDateTime(2017, 2, 29, 14, 7, 16), dosDateTime(2100, 2, 29, 14, 7, 16),
                                  dosDateTime(2017, 3, 5, 24, 7, 16), dosDateTime(2017, 3, 5, 14, 60, 16)}) {
        SCOPED_TRACE(stored);
        const EntryDate date = makeFileInfo(decodeDosDateTime(stored), stored);
        EXPECT_EQ(date.dosDate, stored);
        EXPECT_EQ(date.warnings, std::vector<std::string>{fileTimeWarning});
    }
}

TEST(EntryTime, valid_date_outside_the_dos_range_keeps_the_stored_value_with_a_warning) {
    constexpr uint32_t stored = 0x12345678;
    for (const int year : {1601, 1979, 2108, 30827}) {
        SCOPED_TRACE(year);
        const EntryDate date = makeFileInfo({year, 1, 1, 0, 0, 0}, stored);
        EXPECT_EQ(date.dosDate, stored);
        EXPECT_EQ(date.warnings, std::vector<std::string>{dosTimeWarning});
    }
    for (const int year : {1600, 30828}) {
        SCOPED_TRACE(year);
        EXPECT_EQ(makeFileInfo({year, 1, 1, 0, 0, 0}, stored).warnings, std::vector<std::string>{fileTimeWarning});
    }
}

TEST(EntryTime, names_recordings_by_index_and_stored_time) {
    EXPECT_EQ(recordingName(0, march5th2017At140732), "wav0000_2017_03_05__14_07_32.wav");
    EXPECT_EQ(recordingName(12345, march5th2017At140732), "wav12345_2017_03_05__14_07_32.wav");
    // Invalid fields are named as stored.
    EXPECT_EQ(recordingName(7, dosDateTime(2017, 13, 0, 24, 60, 30)), "wav0007_2017_13_00__24_60_60.wav");
}

}  // namespace
}  // namespace quilbex::zip
