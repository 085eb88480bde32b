#include "export/zip_writer.hpp"

#include <minizip/zip.h>

#include <algorithm>

#include "export/zip64_records.hpp"
#include "platform/zip_file_layer.hpp"

namespace quilbex::exporting {
namespace {

constexpr int appendMode = 2;
constexpr int failed = -1;
// What the entry's general purpose flags announce; the caller compresses.
constexpr int announcedLevel = 1;
constexpr int rawEntry = 1;
constexpr int memoryLevel = 8;
// minizip takes a write's length as 32 bits.
constexpr size_t largestWrite = size_t{1} << 30;
constexpr uint64_t largest32BitSize = 0xFFFFFFFF;

// The most raw deflate can make of n bytes: incompressible data grows by
// its block headers. This is zlib's bound, generous for any deflater.
constexpr uint64_t deflatedSizeBound(uint64_t n) { return n + (n >> 12) + (n >> 14) + (n >> 25) + 13; }

// minizip 1.1 ends an entry of 4 GiB or more opened without zip64 fields
// "successfully" with sizes 0 in its local header, and only an entry opened
// with them has a local field that can take a compressed size past 32 bits:
// so the choice is made before the entry opens, for either size.
bool needsZip64(uint64_t expectedSize) { return deflatedSizeBound(expectedSize) >= largest32BitSize; }

}  // namespace

ZipWriter::~ZipWriter() { close(); }

bool ZipWriter::open(const std::string& path, int mode) {
    close();
    failed_ = false;
    entryCompressedSize_ = 0;
    longEntries_.clear();
    const bool appending = mode == appendMode;
    // Counted before minizip starts writing over the old directory.
    finishedEntries_ = appending ? countEntries(path) : uint64_t{0};
    zlib_filefunc64_def functions{};
    platform::fillZipFileFunctions(&functions);
    handle_ = zipOpen2_64(path.c_str(), appending ? APPEND_STATUS_ADDINZIP : APPEND_STATUS_CREATE, nullptr,
                          &functions);
    path_ = path;
    lastError_ = handle_ ? ZIP_OK : failed;
    return handle_ != nullptr;
}

bool ZipWriter::beginEntry(const std::string& name, uint32_t dosDate, uint64_t expectedSize) {
    if (!handle_ || failed_) return false;
    zip_fileinfo info{};
    info.dosDate = dosDate;
    entryCompressedSize_ = 0;
    lastError_ = zipOpenNewFileInZip4_64(handle_, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                                         announcedLevel, rawEntry, -MAX_WBITS, memoryLevel, Z_DEFAULT_STRATEGY,
                                         nullptr, 0, 0, 0, needsZip64(expectedSize) ? 1 : 0);
    return lastError_ == ZIP_OK || fail(lastError_);
}

bool ZipWriter::writeCompressed(std::span<const std::byte> compressed) {
    if (!handle_ || failed_) return false;
    while (!compressed.empty()) {
        const auto piece = compressed.first(std::min(compressed.size(), largestWrite));
        if (zipWriteInFileInZip(handle_, piece.data(), static_cast<unsigned>(piece.size())) < 0) return fail(failed);
        entryCompressedSize_ += piece.size();
        compressed = compressed.subspan(piece.size());
    }
    return true;
}

bool ZipWriter::finishEntry(uint64_t uncompressedSize, uint32_t crc) {
    if (!handle_ || failed_) return false;
    lastError_ = zipCloseFileInZipRaw64(handle_, uncompressedSize, crc);
    if (lastError_ != ZIP_OK) return fail(lastError_);
    if (finishedEntries_) {
        if (entryCompressedSize_ >= largest32BitSize && uncompressedSize < largest32BitSize)
            longEntries_.push_back({*finishedEntries_, uncompressedSize, entryCompressedSize_});
        ++*finishedEntries_;
    }
    return true;
}

void ZipWriter::close() {
    if (!handle_) return;
    // minizip frees its state whatever becomes of its writes.
    const int closed = zipClose(handle_, nullptr);
    handle_ = nullptr;
    if (!failed_ && closed == ZIP_OK) {
        lastError_ = completeZip64Records(path_) ? ZIP_OK : ZIP_ERRNO;
        return;
    }
    // minizip wrote no directory, part of one, or one that names the failed
    // entry. When the salvage fails too, nothing more can be done.
    if (!failed_) lastError_ = closed;
    if (finishedEntries_) salvageArchive(path_, *finishedEntries_, longEntries_);
}

bool ZipWriter::fail(int error) {
    lastError_ = error;
    failed_ = true;
    return false;
}

}  // namespace quilbex::exporting
