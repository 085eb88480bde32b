#include "options.hpp"

#include <string_view>

#include "byte_value.hpp"
#include "error.hpp"

namespace mkcard {

namespace {

// Byte values as the card server takes them: "1234", "64K", "3M", "8G"
// (binary units) or "bN" for N blocks.
std::uint64_t parse_bytes(std::string_view text, std::string_view what) {
    if (const auto value = cardfs::parse_byte_value(text)) return *value;
    throw Error("bad " + std::string(what) + " '" + std::string(text) + "'");
}

// Walks argv, handing out option values given either as "--opt=v" or "--opt v".
class ArgCursor {
public:
    explicit ArgCursor(std::span<char* const> args) : args_(args) {}

    bool done() const { return pos_ >= args_.size(); }
    std::string_view next() { return args_[pos_++]; }

    std::string_view value_for(std::string_view name, std::string_view inline_value,
                               bool has_inline) {
        if (has_inline) return inline_value;
        if (done()) throw Error("option " + std::string(name) + " needs a value");
        return next();
    }

private:
    std::span<char* const> args_;
    std::size_t pos_ = 0;
};

PayloadMode parse_payload(std::string_view v) {
    if (v == "chirp") return PayloadMode::Chirp;
    if (v == "field") return PayloadMode::Field;
    if (v == "zero") return PayloadMode::Zero;
    if (v == "sparse") return PayloadMode::Sparse;
    throw Error("--payload must be chirp, field, zero or sparse, not '" + std::string(v) + "'");
}

bool apply_flag(std::string_view name, Options& opt) {
    if (name == "-h" || name == "--help") opt.help = true;
    else if (name == "--list") opt.list = true;
    else if (name == "--junk-noise") opt.junk_noise = true;
    else return false;
    return true;
}

void apply_valued(std::string_view name, std::string_view v, Options& opt) {
    if (name == "--seed") opt.seed = parse_count(v, "--seed value");
    else if (name == "--payload") opt.payload = parse_payload(v);
    else if (name == "--trailing") opt.trailing = parse_bytes(v, "--trailing value");
    else if (name == "--size") opt.size = parse_bytes(v, "--size value");
    else if (name == "--payload-out") opt.payload_out = std::string(v);
    else throw Error("unknown option '" + std::string(name) + "' (try -h)");
}

void apply_option(std::string_view arg, ArgCursor& cursor, Options& opt) {
    const std::size_t eq = arg.find('=');
    const std::string_view name = arg.substr(0, eq);
    const bool has_inline = eq != std::string_view::npos;
    if (!has_inline && apply_flag(name, opt)) return;
    const std::string_view inline_value = has_inline ? arg.substr(eq + 1) : std::string_view{};
    apply_valued(name, cursor.value_for(name, inline_value, has_inline), opt);
}

void check_complete(const Options& opt, bool have_output) {
    if (!have_output) throw Error("missing OUTPUT (try -h)");
    if (opt.items.empty() && !opt.size && opt.trailing == 0)
        throw Error("nothing to write: give at least one ITEM (try -h)");
}

}  // namespace

Options parse_options(std::span<char* const> args) {
    Options opt;
    ArgCursor cursor(args);
    bool options_ended = false;
    bool have_output = false;
    while (!cursor.done()) {
        const std::string_view arg = cursor.next();
        if (!options_ended && arg == "--") {
            options_ended = true;
        } else if (!options_ended && arg.size() > 1 && arg[0] == '-') {
            apply_option(arg, cursor, opt);
        } else if (!have_output) {
            opt.output = std::string(arg);
            have_output = true;
        } else {
            opt.items.push_back(parse_item(arg));
        }
    }
    if (!opt.help) check_complete(opt, have_output);
    return opt;
}

const char* usage_text() {
    return R"(usage: quilbex-mkcard [options] OUTPUT ITEM...

Writes a raw card image of 4 MiB blocks, every byte bit-mirrored as the
recorder stores it. Items are laid out in order from block 0:
  rec:N             one synthetic recording of N blocks
  rec:NxM           M synthetic recordings of N blocks each
  rec:N,seq=A.B...  N blocks with the given sequence numbers
  wav:PATH          a recording holding the samples of a 16-bit mono PCM WAV
  junk:N            N blocks without the magic
  blk:SEQ           one block with the magic and sequence number SEQ
rec:, wav: and blk: take an optional @TIME suffix, TIME being
YYYY-MM-DDTHH:MM:SS or a raw 32-bit MS-DOS value 0xXXXXXXXX. Recording r
(rec:/wav: counted from 0) defaults to 2017-03-05T14:07:32 plus r minutes;
blk: defaults to the time of the last recording started.

options:
  --seed N             seed for signal and noise (default 1)
  --payload MODE       chirp (default), field (a noise floor of +-200 LSB with
                       bursts of calls, as recorded outdoors), zero, or sparse
                       (payload left as holes)
  --junk-noise         fill junk blocks and trailing bytes with seeded noise
  --trailing BYTES     append BYTES bytes after the last whole block
  --size BYTES         cut or extend the image to exactly BYTES bytes
                       (BYTES: 1234, 64K, 3M, 8G in binary units, or bN for
                       N blocks of 4 MiB)
  --payload-out FILE   also write the logical payload of every recording
  --list               print "index first_block end_block start_time_hex"
                       for every recording on the card
  -h, --help           show this help
)";
}

}  // namespace mkcard
