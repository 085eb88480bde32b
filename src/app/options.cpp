#include "app/options.hpp"

#include <algorithm>
#include <charconv>
#include <vector>

#include "app/texts.hpp"
#include "card/card_device.hpp"

namespace quilbex::app {
namespace {

struct Walk {
    std::vector<int> positionals;
    bool stop = false;
    bool result = true;

    void refuse() {
        stop = true;
        result = false;
    }
};

// Whole seconds, 1 to 86400, in digits alone.
std::optional<uint32_t> parseSeconds(std::string_view text) {
    uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    // Digits alone: no sign, and nothing after them.
    if (error != std::errc() || end != text.data() + text.size()) return {};
    if (value < 1 || value > 86400) return {};
    return value;
}

// A sign and HH:MM in quarter hours, -12:00 to +14:00, as minutes.
std::optional<int> parseUtcOffset(std::string_view text) {
    const auto digit = [&](size_t i) { return text[i] >= '0' && text[i] <= '9' ? text[i] - '0' : -100; };
    if (text.size() != 6 || (text[0] != '+' && text[0] != '-') || text[3] != ':') return {};
    const int hours = digit(1) * 10 + digit(2);
    const int minutes = digit(4) * 10 + digit(5);
    if (hours < 0 || minutes < 0 || minutes >= 60 || minutes % 15 != 0) return {};
    const int offset = (text[0] == '-' ? -1 : 1) * (hours * 60 + minutes);
    if (offset < -12 * 60 || offset > 14 * 60) return {};
    return offset;
}

// A path: any text but the empty one.
std::optional<std::string> parsePath(std::string_view text) {
    if (text.empty()) return {};
    return std::string(text);
}

// 1 to 64 letters, digits, '-', '_' and '.': safe in a file name on any system.
std::optional<std::string> parseNamePrefix(std::string_view text) {
    const auto allowed = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
               c == '.';
    };
    if (text.empty() || text.size() > 64 || !std::all_of(text.begin(), text.end(), allowed)) return {};
    return std::string(text);
}

// The value of the option at `index` from the next argument, into `into`;
// when it is missing or parse refuses it, the message is printed and the
// walk refused.
template <typename Parse, typename Value>
void takeValue(int argc, const char* const* argv, int& index, platform::Console& console, Walk& walk, Parse parse,
               Value& into) {
    const char letter = argv[index][1];
    const std::string_view value = index + 1 < argc ? argv[++index] : "";
    if (const auto parsed = parse(value)) {
        into = *parsed;
        return;
    }
    console.errLine(invalidValueText(letter, value));
    walk.refuse();
}

// The letters of the options this tool adds to the recorder's own. Only the
// second character of an option is read, so "-dg" would quietly be -d alone:
// an argument that starts with one of these and goes on is refused instead.
// A value comes as the next argument.
constexpr std::string_view addedLetters = "rdsgzlcmnR";

bool combinesAddedOptions(std::string_view argument) {
    return argument.size() > 2 && addedLetters.find(argument[1]) != std::string_view::npos;
}

// Only the option's second character counts: -tV is -t, -help is -h.
void takeOption(int argc, const char* const* argv, int& index, Options& options, platform::Console& console,
                Walk& walk) {
    const char letter = argv[index][1];
    switch (letter) {
    case 'h':
    case '?':
        printUsage(console);
        walk.stop = true;
        break;
    case 'V':
        options.verbose = true;
        break;
    case 't':
        options.showElapsedTime = true;
        break;
    case 'r':
        options.rescue = true;
        break;
    case 'd':
        options.folder = true;
        break;
    case 'g':
        options.guano = true;
        break;
    case 's':
        takeValue(argc, argv, index, console, walk, parseSeconds, options.secondsPerFile);
        break;
    case 'z':
        takeValue(argc, argv, index, console, walk, parseUtcOffset, options.utcOffsetMinutes);
        break;
    case 'l':
        options.list = true;
        break;
    case 'c':
        options.check = true;
        break;
    case 'm':
        takeValue(argc, argv, index, console, walk, parsePath, options.mirror);
        break;
    case 'n':
        takeValue(argc, argv, index, console, walk, parseNamePrefix, options.namePrefix);
        break;
    case 'R':
        takeValue(argc, argv, index, console, walk, parsePath, options.reportPath);
        break;
    case 'v':
        printVersion(console);
        walk.stop = true;
        break;
    case 'i':
        walk.stop = true;
        if (index + 1 < argc)
            card::printDriveInfo(console, argv[++index]);
        else
            walk.result = false;
        break;
    default:
        console.errLine(std::string("Unknown option: ") + letter);
        walk.stop = true;
        walk.result = false;
    }
}

}  // namespace

bool parseCommandLine(int argc, const char* const* argv, Options& options, platform::Console& console) {
    if (argc <= 1) return false;
    Walk walk;
    for (int index = 1; index < argc && !walk.stop; ++index) {
        const std::string_view argument = argv[index];
        if (argument.size() == 1 || argument.empty() || argument[0] != '-')
            walk.positionals.push_back(index);
        else if (combinesAddedOptions(argument)) {
            console.errLine(combinedOptionsText(argument));
            walk.refuse();
        } else
            takeOption(argc, argv, index, options, console, walk);
    }
    // An offset without GUANO would change nothing.
    if (walk.result && !walk.stop && options.utcOffsetMinutes && !options.guano) {
        console.errLine(offsetWithoutGuanoText);
        walk.refuse();
    }
    const size_t given = walk.positionals.size();
    // A listing without its drive is as unusable as -i without one.
    if (options.list && given == 0 && !walk.stop) walk.result = false;
    if (walk.result && !walk.stop && (given == 2 || (options.list && given == 1))) {
        options.drive = argv[walk.positionals[0]];
        if (given == 2) options.zipPath = argv[walk.positionals[1]];
        options.pairGiven = true;
    }
    return walk.result;
}

}  // namespace quilbex::app
