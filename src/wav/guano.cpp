#include "wav/guano.hpp"

#include <cstdlib>

#include "platform/little_endian.hpp"
#include "wav/wav_header.hpp"

namespace quilbex::wav {
namespace {

constexpr size_t chunkHeadSize = 8;

std::string twoDigits(int value) { return std::string{static_cast<char>('0' + value / 10), static_cast<char>('0' + value % 10)}; }

std::string timestamp(const platform::CalendarTime& t, const std::optional<int>& offsetMinutes) {
    std::string text = std::to_string(t.year) + "-" + twoDigits(t.month) + "-" + twoDigits(t.day) + "T" +
                       twoDigits(t.hour) + ":" + twoDigits(t.minute) + ":" + twoDigits(t.second);
    if (offsetMinutes) {
        const int minutes = std::abs(*offsetMinutes);
        text += (*offsetMinutes < 0 ? "-" : "+") + twoDigits(minutes / 60) + ":" + twoDigits(minutes % 60);
    }
    return text;
}

// Seconds with at most six decimals, at least one: 15.0, 0.000003.
std::string seconds(uint64_t samples) {
    // Rounded to the microsecond: samples * 1e6 / 384000 = samples * 125 / 48.
    const uint64_t micro = (samples * 125 * 2 + 48) / 96;
    std::string fraction = std::to_string(1000000 + micro % 1000000).substr(1);
    while (fraction.size() > 1 && fraction.back() == '0') fraction.pop_back();
    return std::to_string(micro / 1000000) + "." + fraction;
}

std::string unreadableLine(uint64_t bytes) { return "Quilbex|Unreadable Bytes: " + std::to_string(bytes) + "\n"; }

}  // namespace

std::string guanoText(const GuanoFacts& facts, uint64_t unreadableBytes) {
    std::string text = "GUANO|Version: 1.0\n";
    if (facts.start) text += "Timestamp: " + timestamp(*facts.start, facts.utcOffsetMinutes) + "\n";
    text += "Length: " + seconds(facts.payloadBytes / bytesPerSample) + "\n";
    text += "Samplerate: " + std::to_string(sampleRate) + "\n";
    text += "Original Filename: " + facts.originalName + "\n";
    text += "Quilbex|First Block: " + std::to_string(facts.firstBlock) + "\n";
    if (facts.offsetSeconds) text += "Quilbex|Offset: " + std::to_string(*facts.offsetSeconds) + "\n";
    if (unreadableBytes != 0) text += unreadableLine(unreadableBytes);
    return text;
}

uint64_t guanoChunkSize(const GuanoFacts& facts) {
    const size_t text = guanoText(facts, 0).size() + unreadableLine(facts.payloadBytes).size();
    return chunkHeadSize + text + text % 2;
}

std::vector<std::byte> buildGuanoChunk(const GuanoFacts& facts, uint64_t unreadableBytes) {
    const uint64_t size = guanoChunkSize(facts);
    std::vector<std::byte> chunk;
    chunk.reserve(size);
    for (char c : std::string_view("guan")) chunk.push_back(static_cast<std::byte>(c));
    platform::appendLittleEndian(chunk, size - chunkHeadSize, 4);
    for (char c : guanoText(facts, unreadableBytes)) chunk.push_back(static_cast<std::byte>(c));
    chunk.resize(size, static_cast<std::byte>(' '));
    return chunk;
}

}  // namespace quilbex::wav
