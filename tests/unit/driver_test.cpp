// The driver's own rules: where the archive's directory is, and which answer
// lets an existing archive be replaced. The passes themselves are run
// black-box by tests/e2e/test_cli.py.

#include <string>
#include <utility>
#include <vector>

#include "app/driver.hpp"
#include "test_support.hpp"

namespace quilbex::app {
namespace {

using testing::CapturedConsole;

TEST(ArchiveDirectory, is_the_part_before_the_last_slash_or_backslash) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"a/b/out.zip", "a/b"},
        {"/tmp/out.zip", "/tmp"},
        {"C:\\temp\\out.zip", "C:\\temp"},
        {"a\\b/out.zip", "a\\b"},
        {"a/b\\out.zip", "a/b"},
        {"dir/", "dir"},
    };
    for (const auto& [path, directory] : cases) EXPECT_EQ(directoryOf(path), directory) << path;
}

TEST(ArchiveDirectory, is_empty_without_separator_or_with_one_only_at_the_start) {
    for (const std::string path : {"out.zip", "E:out.zip", "", "/out.zip", "\\out.zip"})
        EXPECT_EQ(directoryOf(path), "") << path;
}

struct Answer {
    bool confirmed = false;
    std::string out;
    std::string err;
    std::string unread;
};

Answer answer(const std::string& input) {
    CapturedConsole captured(input);
    Answer result;
    result.confirmed = confirmOverwrite(captured.console());
    result.out = captured.flushedOut();
    result.err = captured.err();
    result.unread = captured.unreadInput();
    return result;
}

TEST(OverwriteQuestion, accepts_y_in_either_case_after_blank_lines_and_spaces) {
    for (const std::string input : {"y", "Y", "y\n", "\n\n   y\n", " \t\nY more"}) {
        const Answer result = answer(input);
        EXPECT_TRUE(result.confirmed) << '"' << input << '"';
        EXPECT_EQ(result.out, "Overwrite existing file? (y/n): ") << "prompt missing or not flushed";
        EXPECT_EQ(result.err, "");
    }
}

TEST(OverwriteQuestion, refuses_every_other_word_and_end_of_input) {
    for (const std::string input : {"", "\n \n", "n", "N", "yes", "Yes", "yy", "n y", "-y", "\"y\""}) {
        const Answer result = answer(input);
        EXPECT_FALSE(result.confirmed) << '"' << input << '"';
        EXPECT_EQ(result.out, "Overwrite existing file? (y/n): ");
        EXPECT_EQ(result.err, "");
    }
}

TEST(OverwriteQuestion, reads_one_word_only) {
    EXPECT_EQ(answer("  y\nsecond answer\n").unread, "second answer\n");
    EXPECT_EQ(answer("y second").unread, "second");
}

}  // namespace
}  // namespace quilbex::app
