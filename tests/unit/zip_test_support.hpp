#pragma once
// Helpers of the zip writer's tests: deflate data as the export pipeline
// hands it over, add whole entries, and look at the bytes of an archive.

#include <zlib.h>

#include <cstdint>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "zip/zip_writer.hpp"

namespace quilbex::testing {

// 2017-03-05 14:07:32 as an MS-DOS date/time.
inline constexpr uint32_t march5th2017At140732 = 0x4A6570F0;

// Deflate streams as the export pipeline hands them over: raw, level 1.
class RawDeflater {
public:
    explicit RawDeflater(int level = 1) {
        if (deflateInit2(&stream_, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
            throw std::runtime_error("deflateInit2 failed");
    }
    ~RawDeflater() { deflateEnd(&stream_); }
    RawDeflater(const RawDeflater&) = delete;
    RawDeflater& operator=(const RawDeflater&) = delete;

    // Z_FULL_FLUSH leaves the output byte-aligned and free of references
    // to earlier input, so one flushed piece may be repeated at will.
    std::vector<std::byte> deflate(std::string_view data, int flush) {
        std::vector<std::byte> out(deflateBound(&stream_, data.size()) + 64);
        stream_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
        stream_.avail_in = static_cast<uInt>(data.size());
        stream_.next_out = reinterpret_cast<Bytef*>(out.data());
        stream_.avail_out = static_cast<uInt>(out.size());
        ::deflate(&stream_, flush);
        out.resize(out.size() - stream_.avail_out);
        return out;
    }

private:
    z_stream stream_{};
};

inline std::vector<std::byte> rawDeflate(std::string_view data) { return RawDeflater().deflate(data, Z_FINISH); }

inline uint32_t crcOf(std::string_view data) {
    return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

struct Entry {
    std::string name;
    std::string data;
    uint32_t dosDate = march5th2017At140732;
};

// True when the entry was begun, written and finished.
inline bool addEntry(zip::ZipWriter& zip, const Entry& entry) {
    return zip.beginEntry(entry.name, entry.dosDate, entry.data.size()) && zip.writeCompressed(rawDeflate(entry.data)) &&
           zip.finishEntry(entry.data.size(), crcOf(entry.data));
}

// Bytes that deflate cannot shrink, so that an entry's size on disk is known
// in advance.
inline std::string incompressible(size_t size) {
    std::string bytes(size, '\0');
    uint64_t state = 0x9E3779B97F4A7C15;
    for (char& byte : bytes) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        byte = static_cast<char>(state >> 56);
    }
    return bytes;
}

inline uint64_t littleEndian(const std::string& bytes, size_t offset, size_t width) {
    uint64_t value = 0;
    for (size_t i = 0; i < width; ++i) value |= uint64_t{static_cast<unsigned char>(bytes.at(offset + i))} << (8 * i);
    return value;
}

// Little-endian fields, each a value and its width in bytes; a field wider
// than 8 bytes is padded with zeros.
inline std::string fields(std::initializer_list<std::pair<uint64_t, size_t>> values) {
    std::string bytes;
    for (const auto& [value, width] : values)
        for (size_t i = 0; i < width; ++i) bytes.push_back(i < 8 ? static_cast<char>(value >> (8 * i)) : '\0');
    return bytes;
}

inline std::string contents(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

}  // namespace quilbex::testing
