#include "export/zip64_records.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <fstream>
#include <optional>
#include <string_view>
#include <vector>

namespace quilbex::exporting {
namespace {

constexpr uint32_t zip64EndSignature = 0x06064b50;
constexpr uint32_t zip64LocatorSignature = 0x07064b50;
constexpr size_t zip64EndRecordSize = 56;
constexpr size_t zip64LocatorSize = 20;
constexpr size_t endRecordSize = 22;  // without its comment
constexpr size_t largestComment = 0xFFFF;

}  // namespace

namespace zip_layout {

void appendLittleEndian(std::string& out, uint64_t value, size_t width) {
    for (size_t i = 0; i < width; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}

bool readAt(std::fstream& file, uint64_t position, char* destination, size_t count) {
    file.seekg(static_cast<std::streamoff>(position));
    file.read(destination, static_cast<std::streamsize>(count));
    return static_cast<size_t>(file.gcount()) == count;
}

bool writeAt(std::fstream& file, uint64_t position, const std::string& bytes) {
    file.seekp(static_cast<std::streamoff>(position));
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return file.good();
}

std::string_view zip64Field(std::string_view extra) {
    for (size_t at = 0; at + 4 <= extra.size();) {
        const auto size = static_cast<size_t>(littleEndian(extra, at + 2, 2));
        if (at + 4 + size > extra.size()) break;
        if (littleEndian(extra, at, 2) == zip64ExtraId) return extra.substr(at + 4, size);
        at += 4 + size;
    }
    return {};
}

bool writeLocalZip64Sizes(std::fstream& file, uint64_t headerOffset, uint64_t uncompressedSize,
                          uint64_t compressedSize) {
    std::array<char, localHeaderSize> header{};
    if (!readAt(file, headerOffset, header.data(), header.size()) ||
        littleEndian(header, 0, 4) != localHeaderSignature)
        return false;
    const uint64_t nameSize = littleEndian(header, 26, 2);
    std::string extra(littleEndian(header, 28, 2), '\0');
    if (!readAt(file, headerOffset + localHeaderSize + nameSize, extra.data(), extra.size())) return false;
    const std::string_view field = zip64Field(extra);
    if (field.size() < 16) return false;

    std::string sizes32;
    appendLittleEndian(sizes32, sizeInZip64, 4);
    appendLittleEndian(sizes32, sizeInZip64, 4);
    std::string sizes64;
    appendLittleEndian(sizes64, uncompressedSize, 8);
    appendLittleEndian(sizes64, compressedSize, 8);
    const uint64_t fieldOffset = static_cast<uint64_t>(field.data() - extra.data());
    return writeAt(file, headerOffset + 18, sizes32) &&
           writeAt(file, headerOffset + localHeaderSize + nameSize + fieldOffset, sizes64);
}

std::string zip64EndRecords(uint64_t entryCount, uint64_t directorySize, uint64_t directoryOffset,
                            uint64_t recordPosition) {
    std::string records;
    appendLittleEndian(records, zip64EndSignature, 4);
    appendLittleEndian(records, zip64EndRecordSize - 12, 8);  // the size that follows this field
    appendLittleEndian(records, zip64Version, 2);             // made by
    appendLittleEndian(records, zip64Version, 2);             // needed to extract
    appendLittleEndian(records, 0, 4);                        // this disk
    appendLittleEndian(records, 0, 4);                        // disk of the central directory
    appendLittleEndian(records, entryCount, 8);               // on this disk
    appendLittleEndian(records, entryCount, 8);               // in all
    appendLittleEndian(records, directorySize, 8);
    appendLittleEndian(records, directoryOffset, 8);

    appendLittleEndian(records, zip64LocatorSignature, 4);
    appendLittleEndian(records, 0, 4);  // disk of the zip64 record
    appendLittleEndian(records, recordPosition, 8);
    appendLittleEndian(records, 1, 4);  // disks in all
    return records;
}

}  // namespace zip_layout

namespace {

using namespace zip_layout;

struct EndRecords {
    uint64_t endPosition = 0;  // of the classic end record's signature
    bool hasZip64 = false;
    uint16_t classicCount = 0;
    uint64_t directorySize = 0;
    uint64_t directoryOffset = 0;
    std::string endBytes;  // the classic end record with its comment, as written
};

// The classic end record is the last one whose comment reaches exactly to
// the end of the file.
std::optional<EndRecords> findClassicEnd(std::fstream& file, uint64_t fileSize) {
    if (fileSize < endRecordSize) return std::nullopt;
    const auto tailSize = static_cast<size_t>(std::min<uint64_t>(fileSize, endRecordSize + largestComment));
    std::string tail(tailSize, '\0');
    if (!readAt(file, fileSize - tailSize, tail.data(), tailSize)) return std::nullopt;
    for (size_t at = tailSize - endRecordSize + 1; at-- > 0;) {
        if (littleEndian(tail, at, 4) != endSignature) continue;
        if (at + endRecordSize + littleEndian(tail, at + 20, 2) != tailSize) continue;
        EndRecords end;
        end.endPosition = fileSize - tailSize + at;
        end.classicCount = static_cast<uint16_t>(littleEndian(tail, at + 10, 2));
        end.directorySize = littleEndian(tail, at + 12, 4);
        end.directoryOffset = littleEndian(tail, at + 16, 4);
        end.endBytes = tail.substr(at);
        return end;
    }
    return std::nullopt;
}

// The directory's place comes from the zip64 record when there is one.
std::optional<EndRecords> findEndRecords(std::fstream& file, uint64_t fileSize) {
    auto end = findClassicEnd(file, fileSize);
    if (!end || end->endPosition < zip64LocatorSize) return end;
    std::array<char, zip64LocatorSize> locator{};
    if (!readAt(file, end->endPosition - zip64LocatorSize, locator.data(), locator.size())) return std::nullopt;
    if (littleEndian(locator, 0, 4) != zip64LocatorSignature) return end;
    std::array<char, zip64EndRecordSize> record{};
    if (!readAt(file, littleEndian(locator, 8, 8), record.data(), record.size()) ||
        littleEndian(record, 0, 4) != zip64EndSignature)
        return std::nullopt;
    end->hasZip64 = true;
    end->directorySize = littleEndian(record, 40, 8);
    end->directoryOffset = littleEndian(record, 48, 8);
    return end;
}

struct LocalSizes {
    uint64_t headerOffset = 0;
    uint64_t uncompressedSize = 0;
    uint64_t compressedSize = 0;
};

struct CentralDirectory {
    uint64_t entryCount = 0;
    std::vector<LocalSizes> sizesMissingLocally;
};

// The entry minizip leaves wrong: only its compressed size needs the zip64
// field.
bool lacksLocalZip64Sizes(const std::array<char, centralHeaderSize>& header) {
    return littleEndian(header, 20, 4) == sizeInZip64 && littleEndian(header, 24, 4) != sizeInZip64;
}

// The central zip64 field holds the compressed size first, then the local
// header's offset if that too is past 32 bits. Nothing if it is too short.
std::optional<LocalSizes> localSizesOf(const std::array<char, centralHeaderSize>& header, std::string_view extra) {
    const std::string_view field = zip64Field(extra);
    const bool offsetInField = littleEndian(header, 42, 4) == sizeInZip64;
    if (field.size() < (offsetInField ? 16u : 8u)) return std::nullopt;
    return LocalSizes{offsetInField ? littleEndian(field, 8, 8) : littleEndian(header, 42, 4),
                      littleEndian(header, 24, 4), littleEndian(field, 0, 8)};
}

// Walks the central directory front to back; nothing if it is not a whole
// run of central headers filling the recorded size.
std::optional<CentralDirectory> readCentralDirectory(std::fstream& file, const EndRecords& end) {
    CentralDirectory directory;
    std::array<char, centralHeaderSize> header{};
    std::string variablePart;
    uint64_t walked = 0;
    file.seekg(static_cast<std::streamoff>(end.directoryOffset));
    while (walked < end.directorySize) {
        file.read(header.data(), header.size());
        if (file.gcount() != static_cast<std::streamsize>(header.size()) ||
            littleEndian(header, 0, 4) != centralHeaderSignature)
            return std::nullopt;
        const auto nameSize = static_cast<size_t>(littleEndian(header, 28, 2));
        const auto extraSize = static_cast<size_t>(littleEndian(header, 30, 2));
        variablePart.resize(nameSize + extraSize + littleEndian(header, 32, 2));
        file.read(variablePart.data(), static_cast<std::streamsize>(variablePart.size()));
        if (file.gcount() != static_cast<std::streamsize>(variablePart.size())) return std::nullopt;

        if (lacksLocalZip64Sizes(header)) {
            const auto sizes = localSizesOf(header, std::string_view(variablePart).substr(nameSize, extraSize));
            if (!sizes) return std::nullopt;
            directory.sizesMissingLocally.push_back(*sizes);
        }
        walked += centralHeaderSize + variablePart.size();
        ++directory.entryCount;
    }
    if (walked != end.directorySize) return std::nullopt;
    return directory;
}

}  // namespace

bool completeZip64Records(const std::string& path) {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    if (!file) return false;
    file.seekg(0, std::ios::end);
    const auto fileSize = static_cast<uint64_t>(static_cast<std::streamoff>(file.tellg()));
    const auto end = findEndRecords(file, fileSize);
    if (!end) return false;
    const auto directory = readCentralDirectory(file, *end);
    if (!directory) return false;

    for (const LocalSizes& entry : directory->sizesMissingLocally)
        if (!writeLocalZip64Sizes(file, entry.headerOffset, entry.uncompressedSize, entry.compressedSize))
            return false;
    // The zip64 record takes the end record's place, right after the central
    // directory; the locator and the end record follow it.
    if (end->classicCount == countInZip64 && !end->hasZip64)
        return writeAt(file, end->endPosition,
                       zip64EndRecords(directory->entryCount, end->directorySize, end->directoryOffset,
                                       end->endPosition) +
                           end->endBytes) &&
               file.flush().good();
    return file.flush().good();
}

std::optional<uint64_t> countEntries(const std::string& path) {
    std::fstream file(path, std::ios::in | std::ios::binary);
    if (!file) return std::nullopt;
    file.seekg(0, std::ios::end);
    const auto fileSize = static_cast<uint64_t>(static_cast<std::streamoff>(file.tellg()));
    const auto end = findEndRecords(file, fileSize);
    if (!end) return std::nullopt;
    const auto directory = readCentralDirectory(file, *end);
    if (!directory) return std::nullopt;
    return directory->entryCount;
}

}  // namespace quilbex::exporting
