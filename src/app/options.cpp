#include "app/options.hpp"

#include <vector>

#include "app/texts.hpp"
#include "card/card_device.hpp"

namespace quilbex::app {
namespace {

struct Walk {
    std::vector<int> positionals;
    bool stop = false;
    bool result = true;
};

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
    case 'l':
        options.list = true;
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
        else
            takeOption(argc, argv, index, options, console, walk);
    }
    const size_t given = walk.positionals.size();
    if (walk.result && !walk.stop && (given == 2 || (options.list && given == 1))) {
        options.drive = argv[walk.positionals[0]];
        if (given == 2) options.zipPath = argv[walk.positionals[1]];
        options.pairGiven = true;
    }
    return walk.result;
}

}  // namespace quilbex::app
