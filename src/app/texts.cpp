#include "app/texts.hpp"

#include <zlib.h>

#include <string>

#include "app/version.hpp"
#include "platform/system_error.hpp"

namespace quilbex::app {
namespace {

constexpr std::string_view versionSuffix = "b";

}  // namespace

const std::string_view usageText =
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

const std::string_view hintText = "Try 'quilbex -h' for help";
const std::string_view offsetWithoutGuanoText = "-z sets the time offset of GUANO metadata: add -g";
const std::string_view rescueHintText = "The card has unreadable sectors: run again with -r to read past them.";

std::string combinedOptionsText(std::string_view argument) {
    std::string text = "Give options one at a time:";
    for (const char letter : argument.substr(1)) text += std::string(" -") + letter;
    return text;
}

void printUsage(platform::Console& console) {
    // Every line ends with its own flush, as each is written on its own.
    std::string_view rest = usageText;
    while (!rest.empty()) {
        const size_t end = rest.find('\n');
        console.errLine(rest.substr(0, end));
        rest.remove_prefix(end + 1);
    }
}

std::string versionText() { return std::string(projectVersion) + std::string(versionSuffix); }

void printVersion(platform::Console& console) {
    console.outLine("quilbex v." + versionText() + " (" + ZLIB_VERSION + ")");
}

std::string reportFailedText(const std::string& path, platform::SystemError error) {
    const std::string reason = platform::systemErrorLine(error);
    return "Error: Can't write the report page " + path + (reason.empty() ? "" : ": " + reason);
}

std::string invalidValueText(char option, std::string_view value) {
    return std::string("Invalid value for -") + option + ": " + std::string(value);
}

void printHint(platform::Console& console) { console.errLine(hintText); }

void printCachedReadsNote(platform::Console& console) {
    console.outLine("Note: the card refused unbuffered reads; an unreadable sector costs its whole page "
                    "(eight 512-byte sectors)");
}

}  // namespace quilbex::app
