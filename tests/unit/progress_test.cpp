#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "export/progress.hpp"

namespace quilbex::exporting {
namespace {

// A console whose standard output is kept in memory.
class MemoryConsole {
public:
    MemoryConsole() : out_(open_memstream(&buffer_, &size_)), console_(out_, stderr) {}
    ~MemoryConsole() {
        std::fclose(out_);
        std::free(buffer_);
    }
    MemoryConsole(const MemoryConsole&) = delete;
    MemoryConsole& operator=(const MemoryConsole&) = delete;

    platform::Console& console() { return console_; }
    // Everything written so far; a memory stream publishes only when flushed.
    std::string out() {
        std::fflush(out_);
        return {buffer_, size_};
    }

private:
    char* buffer_ = nullptr;
    size_t size_ = 0;
    std::FILE* out_;
    platform::Console console_;
};

TEST(Progress, verbose_reports_one_line_per_recording) {
    MemoryConsole memory;
    Progress progress(memory.console(), 12, "/tmp/out.zip", true);
    progress.report(1, "wav0000_2017_03_05__14_07_32.wav", 1234567);
    progress.report(12, "wav0011_2017_03_05__14_08_00.wav", 56);
    EXPECT_EQ(memory.out(),
              "[1/12] Adding wav0000_2017_03_05__14_07_32.wav length 1234567 into /tmp/out.zip\n"
              "[12/12] Adding wav0011_2017_03_05__14_08_00.wav length 56 into /tmp/out.zip\n");
}

TEST(Progress, in_place_line_blanks_the_previous_one_first) {
    MemoryConsole memory;
    Progress progress(memory.console(), 10, "out.zip", false);
    progress.report(9, "a_long_name.wav", 100);
    const std::string first = "Adding [9/10]: a_long_name.wav";
    EXPECT_EQ(memory.out(), "\r" + first + "\r");

    progress.report(10, "b.wav", 100);
    const std::string second = "Adding [10/10]: b.wav";
    EXPECT_EQ(memory.out(), "\r" + first + "\r" + std::string(first.size(), ' ') + "\r" + second + "\r");

    // Only the last line needs blanking, even after a longer one.
    progress.report(10, "c.wav", 100);
    EXPECT_TRUE(memory.out().ends_with(second + "\r" + std::string(second.size(), ' ') + "\rAdding [10/10]: c.wav\r"));
}

}  // namespace
}  // namespace quilbex::exporting
