#include "export/zip_salvage.hpp"

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string_view>
#include <system_error>
#include <vector>

#include "export/zip64_records.hpp"

namespace quilbex::exporting {
namespace {

using namespace zip_layout;

// The versions minizip puts in the central header of an entry that needs no
// zip64 field there: "made by" is what the zip writer passes it.
constexpr uint16_t versionMadeBy = 0;
constexpr uint16_t versionNeeded = 20;
constexpr uint64_t dataDescriptorFlag = 0x0008;

struct LocalSizes {
    uint64_t headerOffset = 0;
    uint64_t uncompressedSize = 0;
    uint64_t compressedSize = 0;
};

struct WalkedEntries {
    std::string directory;  // their central headers, in file order
    uint64_t dataEnd = 0;   // where the last one's data ends: the directory's offset
    std::vector<LocalSizes> sizesMissingLocally;
};

// The central zip64 field holds, in this order, only the values that do not
// fit their 32-bit fields.
void appendCentralHeader(std::string& directory, const std::array<char, localHeaderSize>& local, std::string_view name,
                         const LocalSizes& entry) {
    std::string field;
    if (entry.uncompressedSize >= sizeInZip64) appendLittleEndian(field, entry.uncompressedSize, 8);
    if (entry.compressedSize >= sizeInZip64) appendLittleEndian(field, entry.compressedSize, 8);
    if (entry.headerOffset >= sizeInZip64) appendLittleEndian(field, entry.headerOffset, 8);
    const bool zip64 = !field.empty();

    appendLittleEndian(directory, centralHeaderSignature, 4);
    appendLittleEndian(directory, zip64 ? zip64Version : versionMadeBy, 2);
    appendLittleEndian(directory, zip64 ? zip64Version : versionNeeded, 2);
    directory.append(local.data() + 6, 12);  // flags, method, time, date and CRC-32, as in the local header
    appendLittleEndian(directory, std::min<uint64_t>(entry.compressedSize, sizeInZip64), 4);
    appendLittleEndian(directory, std::min<uint64_t>(entry.uncompressedSize, sizeInZip64), 4);
    appendLittleEndian(directory, name.size(), 2);
    appendLittleEndian(directory, zip64 ? field.size() + 4 : 0, 2);
    appendLittleEndian(directory, 0, 2);  // comment length
    appendLittleEndian(directory, 0, 2);  // disk
    appendLittleEndian(directory, 0, 2);  // internal attributes
    appendLittleEndian(directory, 0, 4);  // external attributes
    appendLittleEndian(directory, std::min<uint64_t>(entry.headerOffset, sizeInZip64), 4);
    directory.append(name);
    if (!zip64) return;
    appendLittleEndian(directory, zip64ExtraId, 2);
    appendLittleEndian(directory, field.size(), 2);
    directory.append(field);
}

// Nothing when an entry has no local header where the one before it ends,
// keeps its sizes in a data descriptor, or runs past the end of the file.
std::optional<WalkedEntries> walkEntries(std::fstream& file, uint64_t fileSize, uint64_t entryCount,
                                         std::span<const LongCompressedEntry> longEntries) {
    WalkedEntries walked;
    std::array<char, localHeaderSize> header{};
    std::string variablePart;
    for (uint64_t index = 0; index < entryCount; ++index) {
        const uint64_t position = walked.dataEnd;
        if (!readAt(file, position, header.data(), header.size()) ||
            littleEndian(header, 0, 4) != localHeaderSignature || (littleEndian(header, 6, 2) & dataDescriptorFlag))
            return std::nullopt;
        const auto nameSize = static_cast<size_t>(littleEndian(header, 26, 2));
        variablePart.resize(nameSize + littleEndian(header, 28, 2));
        if (!readAt(file, position + localHeaderSize, variablePart.data(), variablePart.size())) return std::nullopt;
        const std::string_view name = std::string_view(variablePart).substr(0, nameSize);
        const std::string_view field = zip64Field(std::string_view(variablePart).substr(nameSize));

        LocalSizes entry{position, littleEndian(header, 22, 4), littleEndian(header, 18, 4)};
        const auto isThisOne = [index](const LongCompressedEntry& e) { return e.index == index; };
        const auto longEntry = std::find_if(longEntries.begin(), longEntries.end(), isThisOne);
        if (longEntry != longEntries.end()) {
            // Its local zip64 field gets the sizes, as completeZip64Records
            // would give them.
            if (field.size() < 16) return std::nullopt;
            entry.uncompressedSize = longEntry->uncompressedSize;
            entry.compressedSize = longEntry->compressedSize;
            walked.sizesMissingLocally.push_back(entry);
        } else if (entry.compressedSize == sizeInZip64 || entry.uncompressedSize == sizeInZip64) {
            if (field.size() < 16) return std::nullopt;
            entry.uncompressedSize = littleEndian(field, 0, 8);
            entry.compressedSize = littleEndian(field, 8, 8);
        }

        const uint64_t dataStart = position + localHeaderSize + variablePart.size();
        if (entry.compressedSize > fileSize - dataStart) return std::nullopt;
        appendCentralHeader(walked.directory, header, name, entry);
        walked.dataEnd = dataStart + entry.compressedSize;
    }
    return walked;
}

// The zip64 record and its locator come first when a count, size or offset
// does not fit the classic end record, whose fields then say "see zip64".
std::string endRecords(uint64_t entryCount, uint64_t directorySize, uint64_t directoryOffset) {
    std::string records;
    if (entryCount >= countInZip64 || directorySize >= sizeInZip64 || directoryOffset >= sizeInZip64)
        records = zip64EndRecords(entryCount, directorySize, directoryOffset, directoryOffset + directorySize);
    appendLittleEndian(records, endSignature, 4);
    appendLittleEndian(records, 0, 2);  // this disk
    appendLittleEndian(records, 0, 2);  // disk of the central directory
    appendLittleEndian(records, std::min<uint64_t>(entryCount, countInZip64), 2);  // on this disk
    appendLittleEndian(records, std::min<uint64_t>(entryCount, countInZip64), 2);  // in all
    appendLittleEndian(records, std::min<uint64_t>(directorySize, sizeInZip64), 4);
    appendLittleEndian(records, std::min<uint64_t>(directoryOffset, sizeInZip64), 4);
    appendLittleEndian(records, 0, 2);  // comment length
    return records;
}

// Walks the entries and fills in the local sizes minizip left short.
std::optional<WalkedEntries> readEntries(const std::string& path, uint64_t entryCount,
                                         std::span<const LongCompressedEntry> longEntries) {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    if (!file) return std::nullopt;
    file.seekg(0, std::ios::end);
    const std::streamoff fileSize = file.tellg();
    if (fileSize < 0) return std::nullopt;
    auto walked = walkEntries(file, static_cast<uint64_t>(fileSize), entryCount, longEntries);
    if (!walked) return std::nullopt;
    for (const LocalSizes& entry : walked->sizesMissingLocally)
        if (!writeLocalZip64Sizes(file, entry.headerOffset, entry.uncompressedSize, entry.compressedSize))
            return std::nullopt;
    file.close();
    if (file.fail()) return std::nullopt;
    return walked;
}

}  // namespace

bool salvageArchive(const std::string& path, uint64_t entryCount, std::span<const LongCompressedEntry> longEntries) {
    const auto walked = readEntries(path, entryCount, longEntries);
    if (!walked) return false;
    // The truncation gives back the failed entry's space before the
    // directory needs it.
    std::error_code error;
    std::filesystem::resize_file(path, walked->dataEnd, error);
    if (error) return false;
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    if (!file || !writeAt(file, walked->dataEnd,
                          walked->directory + endRecords(entryCount, walked->directory.size(), walked->dataEnd)))
        return false;
    file.close();
    return !file.fail();
}

}  // namespace quilbex::exporting
