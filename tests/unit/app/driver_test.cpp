// The driver's own rules: which answer lets an existing archive be replaced,
// and that nothing else is replaced.
// The passes themselves are run black-box by tests/e2e/test_cli.py.

#include <signal.h>
#include <stdio.h>

#include <filesystem>
#include <string>
#include <utility>

#include "app/driver.hpp"
#include "test_support.hpp"
#include "zip_test_support.hpp"

namespace quilbex::app {
namespace {

using testing::CapturedConsole;

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

// Standard output that puts a link at the archive path once the tool says
// it is extracting: after the checks of the archive path, before the archive
// is made.
class LinkPlantingOutput {
public:
    LinkPlantingOutput(std::string link, std::string target)
        : link_(std::move(link)),
          target_(std::move(target)),
          stream_(fopencookie(this, "w", {nullptr, write, nullptr, nullptr})) {}
    ~LinkPlantingOutput() { std::fclose(stream_); }
    LinkPlantingOutput(const LinkPlantingOutput&) = delete;
    LinkPlantingOutput& operator=(const LinkPlantingOutput&) = delete;

    std::FILE* stream() { return stream_; }
    const std::string& text() const { return text_; }

private:
    static ssize_t write(void* cookie, const char* data, size_t size) {
        auto& self = *static_cast<LinkPlantingOutput*>(cookie);
        self.text_.append(data, size);
        if (!self.planted_ && self.text_.find("Extracting to ") != std::string::npos) {
            std::filesystem::create_symlink(self.target_, self.link_);
            self.planted_ = true;
        }
        return static_cast<ssize_t>(size);
    }

    std::string link_;
    std::string target_;
    std::string text_;
    bool planted_ = false;
    std::FILE* stream_;
};

// Keeps the signal handlers the driver installs from outliving the test.
class SavedInterruptHandlers {
public:
    SavedInterruptHandlers() {
        sigaction(SIGINT, nullptr, &interrupt_);
        sigaction(SIGTERM, nullptr, &terminate_);
    }
    ~SavedInterruptHandlers() {
        sigaction(SIGINT, &interrupt_, nullptr);
        sigaction(SIGTERM, &terminate_, nullptr);
    }

private:
    struct sigaction interrupt_ {};
    struct sigaction terminate_ {};
};

TEST(ArchiveCreation, link_appearing_at_the_archive_path_is_not_followed) {
    QUILBEX_REQUIRE_MKCARD();
    const testing::TempDir dir;
    const std::string card = testing::makeCard(dir, "card.img", {"rec:1", "junk:1"});
    const std::string target = dir.write("target", "someone's file");
    const std::string archive = dir.path("out.zip");
    LinkPlantingOutput out(archive, target);
    CapturedConsole captured({}, out.stream());
    {
        const SavedInterruptHandlers saved;
        const char* argv[] = {"quilbex", card.c_str(), archive.c_str()};
        EXPECT_EQ(runQuilbex(3, argv, captured.console()), 1);
    }
    std::fflush(out.stream());
    EXPECT_TRUE(out.text().ends_with("Error:: Can't add file to zip.\n")) << out.text();
    EXPECT_EQ(captured.err(),
              "Error: Can't make the zip file. Bad filename?\nFile exists\n\nZip archive failure\nFile exists\n");
    EXPECT_TRUE(std::filesystem::is_symlink(archive));
    EXPECT_EQ(testing::contents(target), "someone's file");
}

}  // namespace
}  // namespace quilbex::app
