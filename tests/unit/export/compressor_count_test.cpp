// QUILBEX_THREADS: a whole number is taken within 1 to 64; anything else
// leaves the count to the processors.

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "export/compressor_count.hpp"

namespace quilbex::exporting {
namespace {

int processorDefault() { return std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, 64); }

TEST(ExportThreads, WholeNumberSettingIsTakenWithinOneToSixtyFour) {
    EXPECT_EQ(compressorCount("1"), 1);
    EXPECT_EQ(compressorCount("3"), 3);
    EXPECT_EQ(compressorCount("64"), 64);
    EXPECT_EQ(compressorCount("65"), 64);
    EXPECT_EQ(compressorCount("0"), 1);
    EXPECT_EQ(compressorCount("-2"), 1);
}

TEST(ExportThreads, MissingOrMalformedSettingGivesOnePerProcessor) {
    EXPECT_EQ(compressorCount(nullptr), processorDefault());
    EXPECT_EQ(compressorCount(""), processorDefault());
    EXPECT_EQ(compressorCount("four"), processorDefault());
    EXPECT_EQ(compressorCount("4x"), processorDefault());
    EXPECT_EQ(compressorCount("99999999999999999999999"), processorDefault());
}

}  // namespace
}  // namespace quilbex::exporting
