#include "options.hpp"

#include "byte_value.hpp"

#include <charconv>
#include <cmath>
#include <functional>
#include <map>
#include <string_view>

namespace cardfs {
namespace {

using Setter = std::function<void(Options&, std::string_view)>;

std::uint64_t byte_value_or_throw(std::string_view text, std::string_view what) {
    auto value = parse_byte_value(text);
    if (!value) {
        throw UsageError(std::string(what) + ": not a byte value: " + std::string(text));
    }
    return *value;
}

double positive_number_or_throw(std::string_view text, std::string_view what) {
    double value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc{} || ptr != end || !std::isfinite(value) || value <= 0) {
        throw UsageError(std::string(what) + ": not a positive number: " + std::string(text));
    }
    return value;
}

ByteRange range_or_throw(std::string_view text) {
    const auto colon = text.find(':');
    if (colon == std::string_view::npos) {
        throw UsageError("--fail: expected START:END, got " + std::string(text));
    }
    ByteRange range{byte_value_or_throw(text.substr(0, colon), "--fail"),
                    byte_value_or_throw(text.substr(colon + 1), "--fail")};
    if (range.start >= range.end) {
        throw UsageError("--fail: empty range " + std::string(text));
    }
    return range;
}

std::chrono::milliseconds millis_or_throw(std::string_view text) {
    unsigned long long value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc{} || ptr != end) {
        throw UsageError("--delay-ms: not a whole number: " + std::string(text));
    }
    return std::chrono::milliseconds(value);
}

const std::map<std::string_view, Setter>& valued_options() {
    static const std::map<std::string_view, Setter> setters{
        {"--rate", [](Options& o, std::string_view v) { o.rate_mbps = positive_number_or_throw(v, "--rate"); }},
        {"--delay-ms", [](Options& o, std::string_view v) { o.delay = millis_or_throw(v); }},
        {"--fail", [](Options& o, std::string_view v) { o.failing.push_back(range_or_throw(v)); }},
        {"--short", [](Options& o, std::string_view v) {
             o.max_chunk = byte_value_or_throw(v, "--short");
             if (*o.max_chunk == 0) throw UsageError("--short: must be at least 1");
         }},
        {"--eof-at", [](Options& o, std::string_view v) { o.eof_at = byte_value_or_throw(v, "--eof-at"); }},
        {"--gone-at", [](Options& o, std::string_view v) { o.gone_at = byte_value_or_throw(v, "--gone-at"); }},
        {"--log", [](Options& o, std::string_view v) { o.log_path = std::string(v); }},
        {"-o", [](Options& o, std::string_view v) { o.fuse_args.insert(o.fuse_args.end(), {"-o", std::string(v)}); }},
    };
    return setters;
}

class ArgWalker {
public:
    ArgWalker(int argc, char** argv) : argc_(argc), argv_(argv) {}
    bool done() const { return next_ >= argc_; }
    std::string_view take() { return argv_[next_++]; }
    std::string_view take_value(std::string_view option) {
        if (done()) {
            throw UsageError(std::string(option) + ": missing value");
        }
        return take();
    }

private:
    int argc_;
    char** argv_;
    int next_ = 1;
};

bool apply_valued(Options& options, std::string_view arg, ArgWalker& args) {
    const auto eq = arg.find('=');
    const std::string_view name = arg.substr(0, eq);
    const auto& setters = valued_options();
    const auto found = setters.find(name);
    if (found == setters.end()) {
        return false;
    }
    const std::string_view value = eq == std::string_view::npos ? args.take_value(name) : arg.substr(eq + 1);
    found->second(options, value);
    return true;
}

bool apply_flag(Options& options, std::string_view arg) {
    if (arg == "-h" || arg == "--help") {
        options.help = true;
        return true;
    }
    if (arg == "-f" || arg == "-s" || arg == "-d") {
        options.fuse_args.emplace_back(arg);
        return true;
    }
    return false;
}

void apply_positional(Options& options, std::string_view arg) {
    if (options.image.empty()) {
        options.image = arg;
    } else if (options.mountpoint.empty()) {
        options.mountpoint = arg;
    } else {
        throw UsageError("unexpected argument: " + std::string(arg));
    }
}

void apply_argument(Options& options, std::string_view arg, ArgWalker& args) {
    if (apply_flag(options, arg) || apply_valued(options, arg, args)) {
        return;
    }
    if (arg.size() > 1 && arg.front() == '-') {
        throw UsageError("unknown option: " + std::string(arg));
    }
    apply_positional(options, arg);
}

}  // namespace

Options parse_options(int argc, char** argv) {
    Options options;
    ArgWalker args(argc, argv);
    while (!args.done()) {
        apply_argument(options, args.take(), args);
    }
    if (!options.help && options.mountpoint.empty()) {
        throw UsageError("expected IMAGE and MOUNTPOINT");
    }
    return options;
}

std::string usage_text(const std::string& program) {
    return "usage: " + program + " IMAGE MOUNTPOINT [options]\n"
        "Serves IMAGE read-only as MOUNTPOINT/card, optionally slow or faulty.\n"
        "  --rate MBPS        pace reads to MBPS * 10^6 bytes per second overall\n"
        "  --delay-ms N       wait N ms before answering each read\n"
        "  --fail START:END   reads reaching [START, END) fail with EIO (repeatable)\n"
        "  --short N          answer at most N bytes per read\n"
        "  --eof-at OFFSET    reads at or past OFFSET return no data\n"
        "  --gone-at OFFSET   reads reaching OFFSET fail with ENXIO, as from a pulled card\n"
        "  --log FILE         append \"offset length result\" per read\n"
        "  -f                 stay in the foreground\n"
        "  -s                 single-threaded\n"
        "  -d                 FUSE debug output (implies -f)\n"
        "  -o OPTS            extra FUSE mount options\n"
        "Byte values: 1234, 64K, 3M, 1G (binary), or bN for block N (N * 4 MiB).\n";
}

}  // namespace cardfs
