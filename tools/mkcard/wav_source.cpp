#include "wav_source.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>

#include "card_format.hpp"
#include "error.hpp"

namespace mkcard {

namespace {

constexpr std::uint16_t kFormatPcm = 1;
constexpr std::uint16_t kFormatExtensible = 0xFFFE;

std::uint32_t le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint16_t le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

struct Format {
    std::uint16_t tag = 0;
    std::uint16_t channels = 0;
    std::uint16_t bits = 0;
};

class ChunkReader {
public:
    explicit ChunkReader(const std::string& path)
        : path_(path), in_(path, std::ios::binary) {
        std::error_code ec;
        file_size_ = std::filesystem::file_size(path, ec);
        if (!in_ || ec) fail("cannot open");
    }

    [[noreturn]] void fail(const std::string& why) const {
        throw Error("WAV '" + path_ + "': " + why);
    }

    void read_exact(std::uint8_t* dst, std::size_t n) {
        if (!in_.read(reinterpret_cast<char*>(dst), static_cast<std::streamsize>(n)))
            fail("file ends early");
    }

    std::uint64_t pos() { return static_cast<std::uint64_t>(in_.tellg()); }
    std::uint64_t file_size() const { return file_size_; }
    void seek(std::uint64_t p) { in_.seekg(static_cast<std::streamoff>(p)); }

private:
    std::string path_;
    std::ifstream in_;
    std::uint64_t file_size_ = 0;
};

Format parse_fmt(ChunkReader& r, std::uint32_t size) {
    if (size < 16) r.fail("fmt chunk too short");
    std::array<std::uint8_t, 40> buf{};
    r.read_exact(buf.data(), std::min<std::size_t>(size, buf.size()));
    Format f{le16(&buf[0]), le16(&buf[2]), le16(&buf[14])};
    // The extensible header carries the real format in its sub-format GUID.
    if (f.tag == kFormatExtensible && size >= 40) f.tag = le16(&buf[24]);
    return f;
}

void check_format(ChunkReader& r, const std::optional<Format>& f) {
    if (!f) r.fail("no fmt chunk before the data");
    if (f->tag != kFormatPcm) r.fail("not PCM (format tag " + std::to_string(f->tag) + ")");
    if (f->channels != 1) r.fail("has " + std::to_string(f->channels) + " channels, want mono");
    if (f->bits != 16) r.fail("has " + std::to_string(f->bits) + "-bit samples, want 16-bit");
}

void check_riff_header(ChunkReader& r) {
    std::array<std::uint8_t, 12> head{};
    r.read_exact(head.data(), head.size());
    if (std::memcmp(head.data(), "RIFF", 4) != 0 || std::memcmp(&head[8], "WAVE", 4) != 0)
        r.fail("not a RIFF/WAVE file");
}

}  // namespace

WavSource open_wav(const std::string& path) {
    ChunkReader r(path);
    check_riff_header(r);
    std::optional<Format> format;
    for (;;) {
        std::array<std::uint8_t, 8> chunk{};
        r.read_exact(chunk.data(), chunk.size());
        const std::uint32_t size = le32(&chunk[4]);
        const std::uint64_t body = r.pos();
        if (std::memcmp(chunk.data(), "fmt ", 4) == 0) {
            format = parse_fmt(r, size);
        } else if (std::memcmp(chunk.data(), "data", 4) == 0) {
            check_format(r, format);
            if (body + size > r.file_size()) r.fail("data chunk runs past the end of the file");
            if (size < 2) r.fail("holds no samples");
            return WavSource{path, body, size};
        }
        r.seek(body + size + (size & 1u));  // chunks are padded to even length
    }
}

std::uint64_t wav_block_count(const WavSource& wav) {
    return (wav.data_size + kPayloadSize - 1) / kPayloadSize;
}

void read_wav_payload(const WavSource& wav, std::uint64_t block_index,
                      std::span<std::uint8_t> payload) {
    const std::uint64_t start = block_index * kPayloadSize;
    const std::uint64_t n = std::min<std::uint64_t>(payload.size(), wav.data_size - start);
    std::ifstream in(wav.path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(wav.data_offset + start));
    if (!in.read(reinterpret_cast<char*>(payload.data()), static_cast<std::streamsize>(n)))
        throw Error("WAV '" + wav.path + "': read failed");
    std::fill(payload.begin() + static_cast<std::ptrdiff_t>(n), payload.end(), 0);
}

}  // namespace mkcard
