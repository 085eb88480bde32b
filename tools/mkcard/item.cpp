#include "item.hpp"

#include <charconv>

#include "error.hpp"

namespace mkcard {

namespace {

struct Split {
    std::string_view body;
    std::optional<TimeSpec> time;
};

Split split_time_at(std::string_view text, std::size_t at) {
    if (at == std::string_view::npos) return {text, std::nullopt};
    return {text.substr(0, at), parse_time_spec(text.substr(at + 1))};
}

// A path may itself contain '@', so only a suffix shaped like a time counts.
Split split_wav_time(std::string_view text) {
    const std::size_t at = text.rfind('@');
    if (at == std::string_view::npos || !looks_like_time_spec(text.substr(at + 1)))
        return {text, std::nullopt};
    return split_time_at(text, at);
}

std::uint16_t parse_seq(std::string_view text) {
    const std::uint64_t v = parse_count(text, "sequence number");
    if (v > 0xFFFF) throw Error("sequence number " + std::string(text) + " exceeds 65535");
    return static_cast<std::uint16_t>(v);
}

std::vector<std::uint16_t> parse_seq_list(std::string_view text) {
    std::vector<std::uint16_t> seqs;
    std::size_t start = 0;
    for (;;) {
        const std::size_t dot = text.find('.', start);
        seqs.push_back(parse_seq(text.substr(start, dot - start)));
        if (dot == std::string_view::npos) return seqs;
        start = dot + 1;
    }
}

void parse_rec_body(std::string_view body, Item& item) {
    const std::size_t comma = body.find(',');
    const std::string_view shape = body.substr(0, comma);
    const std::size_t x = shape.find('x');
    item.blocks = parse_count(shape.substr(0, x), "block count");
    if (x != std::string_view::npos)
        item.recordings = parse_count(shape.substr(x + 1), "recording count");
    if (item.blocks == 0 || item.recordings == 0)
        throw Error("rec: needs at least one block and one recording");
    if (comma == std::string_view::npos) return;
    const std::string_view option = body.substr(comma + 1);
    if (option.substr(0, 4) != "seq=") throw Error("unknown rec: option '" + std::string(option) + "'");
    item.seq_override = parse_seq_list(option.substr(4));
    if (item.seq_override.size() != item.blocks)
        throw Error("seq= lists " + std::to_string(item.seq_override.size()) +
                    " numbers for " + std::to_string(item.blocks) + " blocks");
}

Item parse_kind(std::string_view kind, std::string_view rest) {
    Item item;
    if (kind == "rec") {
        item.kind = ItemKind::Rec;
        const Split s = split_time_at(rest, rest.find('@'));
        parse_rec_body(s.body, item);
        item.time = s.time;
    } else if (kind == "blk") {
        item.kind = ItemKind::Blk;
        const Split s = split_time_at(rest, rest.find('@'));
        item.blk_seq = parse_seq(s.body);
        item.time = s.time;
    } else if (kind == "wav") {
        item.kind = ItemKind::Wav;
        const Split s = split_wav_time(rest);
        if (s.body.empty()) throw Error("wav: needs a file name");
        item.wav_path = std::string(s.body);
        item.time = s.time;
    } else if (kind == "junk") {
        item.kind = ItemKind::Junk;
        item.blocks = parse_count(rest, "junk block count");
    } else {
        throw Error("unknown item kind '" + std::string(kind) + "'");
    }
    return item;
}

}  // namespace

std::uint64_t parse_count(std::string_view text, std::string_view what) {
    std::uint64_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc{} || end != text.data() + text.size())
        throw Error("bad " + std::string(what) + " '" + std::string(text) + "'");
    return value;
}

Item parse_item(std::string_view text) {
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos)
        throw Error("bad item '" + std::string(text) + "' (want rec:, wav:, junk: or blk:)");
    try {
        return parse_kind(text.substr(0, colon), text.substr(colon + 1));
    } catch (const Error& e) {
        throw Error("item '" + std::string(text) + "': " + e.what());
    }
}

}  // namespace mkcard
