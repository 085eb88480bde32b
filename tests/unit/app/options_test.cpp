// The command line: which words are options, which are the drive and the
// archive, and where option processing stops.

#include <zlib.h>

#include <optional>
#include <string>
#include <vector>

#include "app/options.hpp"
#include "app/texts.hpp"
#include "test_support.hpp"

namespace quilbex::app {
namespace {

using testing::CapturedConsole;
using testing::TempDir;

const std::string usage =
    "quilbex - SD card wav file extractor utility by Brastonel Ltd.\n"
    "\n"
    "Usage: \n"
    "       quilbex [options] <drive> <zip filename> : extract wav files to zip\n"
    "       quilbex [options]\n"
    "\n"
    "Options:\n"
    "        -h - display this help message.\n"
    "        -v - display version info.\n"
    "        -V - Verbose output\n"
    "        -t - show elapsed time\n"
    "        -r - rescue: go on past unreadable sectors\n"
    "        -d - write WAV files into a folder instead of a zip\n"
    "        -s N - cut recordings into files of at most N seconds\n"
    "        -g - add GUANO metadata to every WAV file\n"
    "        -z +HH:MM - the recorder clock's offset from UTC, for GUANO\n"
    "        -l - list the recordings on the card and write nothing\n"
    "        -c - check: read every file back from the disk and compare it with the card\n"
    "        -m PATH - also write a second copy to PATH (a zip, or with -d a folder)\n"
    "        -n PREFIX - name files PREFIX_YYYYMMDD_HHMMSS.wav from their start times\n"
    "        -R PATH - write a report page of the card (HTML) to PATH\n"
    "\n"
    "Example:\n"
    "    quilbex E: C:\\temp\\out.zip\n";

const std::string version = std::string("quilbex v.2.2.3b (") + ZLIB_VERSION + ")\n";

struct Parsed {
    bool usable = false;
    Options options;
    std::string out;
    std::string err;
};

Parsed parse(std::vector<std::string> words) {
    words.insert(words.begin(), "quilbex");
    std::vector<const char*> argv;
    for (const auto& word : words) argv.push_back(word.c_str());
    argv.push_back(nullptr);
    CapturedConsole captured;
    Parsed parsed;
    parsed.usable = parseCommandLine(static_cast<int>(words.size()), argv.data(), parsed.options, captured.console());
    parsed.out = captured.out();
    parsed.err = captured.err();
    return parsed;
}

void expectNothingPrinted(const Parsed& parsed) {
    EXPECT_EQ(parsed.out, "");
    EXPECT_EQ(parsed.err, "");
}

TEST(CommandLine, is_unusable_without_arguments) {
    const Parsed parsed = parse({});
    EXPECT_FALSE(parsed.usable);
    EXPECT_FALSE(parsed.options.pairGiven);
    expectNothingPrinted(parsed);
}

TEST(CommandLine, takes_drive_then_archive_from_two_positionals) {
    const Parsed parsed = parse({"E:", "C:\\temp\\out.zip"});
    EXPECT_TRUE(parsed.usable);
    EXPECT_TRUE(parsed.options.pairGiven);
    EXPECT_EQ(parsed.options.drive, "E:");
    EXPECT_EQ(parsed.options.zipPath, "C:\\temp\\out.zip");
    EXPECT_FALSE(parsed.options.verbose);
    EXPECT_FALSE(parsed.options.showElapsedTime);
    expectNothingPrinted(parsed);
}

TEST(CommandLine, accepts_options_anywhere_among_positionals) {
    for (const auto& words : std::vector<std::vector<std::string>>{
             {"-t", "E:", "out.zip"}, {"E:", "-t", "out.zip"}, {"E:", "out.zip", "-t"}}) {
        SCOPED_TRACE(words[0] + " " + words[1] + " " + words[2]);
        const Parsed parsed = parse(words);
        EXPECT_TRUE(parsed.usable);
        EXPECT_TRUE(parsed.options.pairGiven);
        EXPECT_EQ(parsed.options.drive, "E:");
        EXPECT_EQ(parsed.options.zipPath, "out.zip");
        EXPECT_TRUE(parsed.options.showElapsedTime);
        EXPECT_FALSE(parsed.options.verbose);
    }
}

TEST(CommandLine, sets_verbose_and_elapsed_time_independently) {
    const Parsed verbose = parse({"-V", "E:", "out.zip"});
    EXPECT_TRUE(verbose.options.verbose);
    EXPECT_FALSE(verbose.options.showElapsedTime);
    const Parsed both = parse({"-V", "E:", "-t", "out.zip"});
    EXPECT_TRUE(both.options.verbose);
    EXPECT_TRUE(both.options.showElapsedTime);
    EXPECT_TRUE(both.options.pairGiven);
}

TEST(CommandLine, sets_rescue_alongside_the_other_flags) {
    EXPECT_FALSE(parse({"-V", "-t", "E:", "out.zip"}).options.rescue);
    EXPECT_FALSE(parse({"-V", "-t", "E:", "out.zip"}).options.check);
    const Parsed all = parse({"E:", "-r", "-V", "-c", "out.zip", "-m", "-t", "-t"});
    EXPECT_TRUE(all.options.rescue);
    EXPECT_TRUE(all.options.check);
    EXPECT_EQ(all.options.mirror, "-t");  // the value, whatever it looks like
    EXPECT_TRUE(all.options.verbose);
    EXPECT_TRUE(all.options.showElapsedTime);
    EXPECT_TRUE(all.options.pairGiven);
    expectNothingPrinted(all);
}

TEST(CommandLine, asks_nothing_unless_exactly_two_positionals) {
    for (const auto& words : std::vector<std::vector<std::string>>{
             {"-t"}, {"-V", "-t"}, {"E:"}, {"E:", "a.zip", "b.zip"}, {"-t", "E:", "a.zip", "b", "c"}}) {
        SCOPED_TRACE(words.size());
        const Parsed parsed = parse(words);
        EXPECT_TRUE(parsed.usable);
        EXPECT_FALSE(parsed.options.pairGiven);
        expectNothingPrinted(parsed);
    }
}

TEST(CommandLine, lists_with_the_drive_alone_or_ignores_a_second_positional) {
    for (const auto& words :
         std::vector<std::vector<std::string>>{{"-l", "E:"}, {"E:", "-l"}, {"-l", "E:", "out.zip"}}) {
        SCOPED_TRACE(words.size());
        const Parsed parsed = parse(words);
        EXPECT_TRUE(parsed.options.list);
        EXPECT_TRUE(parsed.options.pairGiven);
        EXPECT_EQ(parsed.options.drive, "E:");
        expectNothingPrinted(parsed);
    }
    EXPECT_FALSE(parse({"-l"}).options.pairGiven);
    EXPECT_FALSE(parse({"-l", "E:", "a.zip", "b.zip"}).options.pairGiven);
}

TEST(CommandLine, takes_lone_dash_and_single_characters_as_positionals) {
    const Parsed parsed = parse({"-", "x"});
    EXPECT_TRUE(parsed.usable);
    EXPECT_TRUE(parsed.options.pairGiven);
    EXPECT_EQ(parsed.options.drive, "-");
    EXPECT_EQ(parsed.options.zipPath, "x");
    expectNothingPrinted(parsed);
}

TEST(CommandLine, reads_only_the_second_character_of_an_option) {
    const Parsed tV = parse({"-tV", "E:", "out.zip"});
    EXPECT_TRUE(tV.options.showElapsedTime);
    EXPECT_FALSE(tV.options.verbose);
    const Parsed Vt = parse({"-Vt", "E:", "out.zip"});
    EXPECT_TRUE(Vt.options.verbose);
    EXPECT_FALSE(Vt.options.showElapsedTime);

    const Parsed help = parse({"-help"});
    EXPECT_TRUE(help.usable);
    EXPECT_EQ(help.err, usage);
    const Parsed ver = parse({"-version"});
    EXPECT_TRUE(ver.usable);
    EXPECT_EQ(ver.out, version);
    EXPECT_EQ(ver.err, "");
}

TEST(CommandLine, rejects_unknown_option) {
    for (const auto& [word, letter] : std::vector<std::pair<std::string, std::string>>{
             {"-x", "x"}, {"--help", "-"}, {"-H", "H"}, {"-T", "T"}, {"-D", "D"}, {"-xh", "x"}, {"-I", "I"}}) {
        SCOPED_TRACE(word);
        const Parsed parsed = parse({"E:", word, "out.zip"});
        EXPECT_FALSE(parsed.usable);
        EXPECT_FALSE(parsed.options.pairGiven);
        EXPECT_EQ(parsed.out, "");
        EXPECT_EQ(parsed.err, "Unknown option: " + letter + "\n");
    }
}

TEST(CommandLine, takes_the_analysis_options_and_their_values) {
    struct Case {
        std::vector<std::string> words;
        bool folder;
        uint32_t seconds;
        bool guano;
        std::optional<int> offset;
        std::string reportPath = {};
        std::string prefix = {};
    };
    for (const auto& c : std::vector<Case>{
             {{"E:", "out.zip"}, false, 0, false, std::nullopt},
             {{"-d", "-s", "15", "-g", "E:", "night-1/"}, true, 15, true, std::nullopt},
             {{"-s", "86400", "E:", "out.zip"}, false, 86400, false, std::nullopt},
             {{"-s", "1", "-z", "+00:00", "-g", "E:", "out.zip"}, false, 1, true, 0},
             {{"-z", "-05:00", "E:", "out.zip", "-g"}, false, 0, true, -300},
             {{"-g", "E:", "-z", "+14:00", "out.zip"}, false, 0, true, 14 * 60},
             {{"-g", "E:", "-z", "-12:00", "out.zip"}, false, 0, true, -12 * 60},
             {{"-g", "E:", "-z", "+05:45", "out.zip"}, false, 0, true, 5 * 60 + 45},
             {{"E:", "-R", "night 1.html", "out.zip"}, false, 0, false, std::nullopt, "night 1.html"},
             {{"-n", "TQ2878_site-3.b", "E:", "out.zip"}, false, 0, false, std::nullopt, "", "TQ2878_site-3.b"},
             {{"-n", std::string(64, 'Z'), "E:", "out.zip"}, false, 0, false, std::nullopt, "", std::string(64, 'Z')}}) {
        SCOPED_TRACE(c.words[0] + " " + c.words[1]);
        const Parsed parsed = parse(c.words);
        EXPECT_TRUE(parsed.usable);
        EXPECT_TRUE(parsed.options.pairGiven);
        EXPECT_EQ(parsed.options.folder, c.folder);
        EXPECT_EQ(parsed.options.secondsPerFile, c.seconds);
        EXPECT_EQ(parsed.options.guano, c.guano);
        EXPECT_EQ(parsed.options.utcOffsetMinutes, c.offset);
        EXPECT_EQ(parsed.options.reportPath, c.reportPath);
        EXPECT_EQ(parsed.options.namePrefix, c.prefix);
        expectNothingPrinted(parsed);
    }
}

TEST(CommandLine, rejects_a_missing_or_invalid_value) {
    for (const auto& [words, message] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"-s", "0", "E:", "out.zip"}, "-s: 0"},
             {{"-s", "1.5", "E:", "out.zip"}, "-s: 1.5"},
             {{"-s", "x", "E:", "out.zip"}, "-s: x"},
             {{"-s", "86401", "E:", "out.zip"}, "-s: 86401"},
             {{"-s", "-h"}, "-s: -h"},
             {{"E:", "out.zip", "-s"}, "-s: "},
             {{"-z", "5", "E:", "out.zip"}, "-z: 5"},
             {{"-z", "+14:30", "E:", "out.zip"}, "-z: +14:30"},
             {{"-z", "+01:10", "E:", "out.zip"}, "-z: +01:10"},
             {{"-z", "+00:60", "E:", "out.zip"}, "-z: +00:60"},
             {{"-z", "-01:75", "E:", "out.zip"}, "-z: -01:75"},
             {{"-z", "02:00", "E:", "out.zip"}, "-z: 02:00"},
             {{"E:", "out.zip", "-z"}, "-z: "},
             {{"-R", "", "E:", "out.zip"}, "-R: "},
             {{"E:", "out.zip", "-R"}, "-R: "},
             {{"E:", "out.zip", "-m"}, "-m: "},
             {{"-m", "", "E:", "out.zip"}, "-m: "},
             {{"-n", "", "E:", "out.zip"}, "-n: "},
             {{"-n", std::string(65, 'a'), "E:", "out.zip"}, "-n: " + std::string(65, 'a')},
             {{"-n", "grid 12", "E:", "out.zip"}, "-n: grid 12"},
             {{"-n", "../up", "E:", "out.zip"}, "-n: ../up"},
             {{"-n", "caf\xc3\xa9", "E:", "out.zip"}, "-n: caf\xc3\xa9"},
             {{"E:", "out.zip", "-n"}, "-n: "}}) {
        SCOPED_TRACE(message);
        const Parsed parsed = parse(words);
        EXPECT_FALSE(parsed.usable);
        EXPECT_FALSE(parsed.options.pairGiven);
        EXPECT_EQ(parsed.out, "");
        EXPECT_EQ(parsed.err, "Invalid value for " + message + "\n");
    }
}

TEST(CommandLine, stops_at_unknown_option) {
    const Parsed parsed = parse({"-x", "-h", "-v", "-y"});
    EXPECT_FALSE(parsed.usable);
    EXPECT_EQ(parsed.out, "");
    EXPECT_EQ(parsed.err, "Unknown option: x\n");
}

TEST(CommandLine, shows_usage_for_h_and_question_mark) {
    for (const std::string word : {"-h", "-?"}) {
        SCOPED_TRACE(word);
        const Parsed parsed = parse({word});
        EXPECT_TRUE(parsed.usable);
        EXPECT_FALSE(parsed.options.pairGiven);
        EXPECT_EQ(parsed.out, "");
        EXPECT_EQ(parsed.err, usage);
    }
}

TEST(CommandLine, stops_at_usage) {
    const Parsed later = parse({"-h", "-x", "-v"});
    EXPECT_TRUE(later.usable);
    EXPECT_EQ(later.out, "");
    EXPECT_EQ(later.err, usage);

    const Parsed afterPair = parse({"E:", "out.zip", "-h"});
    EXPECT_TRUE(afterPair.usable);
    EXPECT_FALSE(afterPair.options.pairGiven);
    EXPECT_EQ(afterPair.err, usage);
}

TEST(CommandLine, stops_at_version) {
    const Parsed parsed = parse({"-V", "-v", "-h", "E:", "out.zip"});
    EXPECT_TRUE(parsed.usable);
    EXPECT_FALSE(parsed.options.pairGiven);
    EXPECT_EQ(parsed.out, version);
    EXPECT_EQ(parsed.err, "");
}

TEST(CommandLine, is_unusable_when_drive_information_or_listing_lacks_its_drive) {
    for (const auto& words : std::vector<std::vector<std::string>>{{"-i"}, {"-t", "E:", "-i"}, {"-l"}, {"-V", "-l"}}) {
        const Parsed parsed = parse(words);
        EXPECT_FALSE(parsed.usable);
        EXPECT_FALSE(parsed.options.pairGiven);
        expectNothingPrinted(parsed);
    }
}

TEST(CommandLine, reports_the_drive_after_i_and_ignores_the_rest) {
    const TempDir dir;
    const std::string image = dir.sparse("card.img", 1048576);
    const std::string report =
        "Drive path      = " + image +
        "\nCylinders       = 2048\nTracks/cylinder = 1\nSectors/track   = 1\nBytes/sector    = 512\n"
        "Disk size       = 1048576 (Bytes)\n               = 0.00 (Gb)\n";
    for (const auto& words : std::vector<std::vector<std::string>>{
             {"-i", image}, {"-i", image, "more", "words"}, {"-iE:", image, "-x"}, {"E:", "-i", image, "out.zip"}}) {
        SCOPED_TRACE(words[0] + " " + words[1]);
        const Parsed parsed = parse(words);
        EXPECT_TRUE(parsed.usable);
        EXPECT_FALSE(parsed.options.pairGiven);
        EXPECT_EQ(parsed.out, report);
        EXPECT_EQ(parsed.err, "");
    }
}

TEST(CommandLine, stays_usable_when_the_reported_drive_cannot_be_opened) {
    const TempDir dir;
    const Parsed parsed = parse({"-i", dir.path("missing")});
    EXPECT_TRUE(parsed.usable);
    EXPECT_FALSE(parsed.options.pairGiven);
    EXPECT_EQ(parsed.out, "Bad drive. Error: 2.\n\nNo such file or directory\n");
    EXPECT_EQ(parsed.err, "");
}

TEST(Texts, usage_is_flushed_on_standard_error) {
    EXPECT_EQ(std::string(usageText), usage);
    CapturedConsole captured;
    printUsage(captured.console());
    EXPECT_EQ(captured.flushedErr(), usage);
    EXPECT_EQ(captured.out(), "");
}

TEST(Texts, version_names_zlib_and_is_flushed_on_standard_output) {
    CapturedConsole captured;
    printVersion(captured.console());
    EXPECT_EQ(captured.flushedOut(), version);
    EXPECT_EQ(captured.err(), "");
}

TEST(Texts, hint_is_one_flushed_line_on_standard_error) {
    CapturedConsole captured;
    printHint(captured.console());
    EXPECT_EQ(captured.flushedErr(), "Try 'quilbex -h' for help\n");
    EXPECT_EQ(captured.out(), "");
}

}  // namespace
}  // namespace quilbex::app
