// Where the archive's directory is, and how a folder export (-d) knows its
// folder and a FAT file system.

#include <string>
#include <utility>
#include <vector>

#include "output/folder_checks.hpp"
#include "platform/mount_table.hpp"
#include "test_support.hpp"

namespace quilbex::output {
namespace {

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
}  // namespace quilbex::output
