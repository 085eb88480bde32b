// The driver's own rules: where the archive's directory is, which answer
// lets an existing archive be replaced, and that nothing else is replaced;
// how a folder export (-d) knows its folder and a FAT file system.
// The passes themselves are run black-box by tests/e2e/test_cli.py.

#include <signal.h>
#include <stdio.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "app/driver.hpp"
#include "app/folder_checks.hpp"
#include "platform/mount_table.hpp"
#include "test_support.hpp"
#include "zip_test_support.hpp"

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

// A folder export (-d) refuses a file over 4 GiB - 1 on FAT, which it knows
// only by the name the system gives the folder's file system.
TEST(FolderExport, knows_fat_by_the_file_system_name) {
    const std::vector<std::pair<std::string, bool>> cases = {
        {"vfat", true},  {"msdos", true},         {"fuse.fusefat", true},
        {"FAT32", true}, {"FAT", true},           {"exfat", false},       {"fuse.exfat", false},
        {"exFAT", false}, {"NTFS", false},        {"ext4", false},        {"tmpfs", false},
        {"", false},     {"fuseblk", false},      {"fatty", false},
    };
    for (const auto& [name, fat] : cases) EXPECT_EQ(isFatFileSystem(name), fat) << name;
}

TEST(FolderExport, reads_the_type_of_the_longest_mount_point_holding_the_folder) {
    const std::string table =
        "21 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
        "30 21 0:40 / /mnt rw - tmpfs tmpfs rw\n"
        "31 30 0:41 / /mnt/card\\040one rw shared:5 - fuse.fusefat /dev/fuse rw\n"
        "32 21 0:42 / /media rw - vfat /dev/sdb1 rw\n"
        "33 21 0:43 / /media rw - ext2 /dev/sdc1 rw\n";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"/", "ext4"},
        {"/home/night-1", "ext4"},
        {"/mnt", "tmpfs"},
        {"/mntx", "ext4"},
        {"/mnt/card one/night-1", "fuse.fusefat"},
        {"/mnt/card one", "fuse.fusefat"},
        {"/mnt/card", "tmpfs"},
        {"/media/x", "ext2"},  // mounted over the vfat
    };
    for (const auto& [path, type] : cases) EXPECT_EQ(platform::mountTypeOf(table, path), type) << path;
    EXPECT_EQ(platform::mountTypeOf("", "/"), "");
    EXPECT_EQ(platform::mountTypeOf("broken line\n", "/"), "");
}

TEST(FolderExport, is_the_folder_as_typed_without_trailing_separators) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"night-1/", "night-1"}, {"a/night-1//", "a/night-1"}, {"a\\b\\", "a\\b"}, {"night-1", "night-1"}, {"/", "/"},
    };
    for (const auto& [typed, folder] : cases) EXPECT_EQ(folderPath(typed), folder) << typed;
}

}  // namespace
}  // namespace quilbex::app
