#include "zip/zip_writer.hpp"

#include <algorithm>
#include <utility>

namespace quilbex::zip {
namespace {

// A name's length is a 16-bit field.
constexpr size_t longestName = 0xFFFF;

}  // namespace

ZipWriter::~ZipWriter() { close(); }

bool ZipWriter::open(const std::string& path) {
    close();
    lastError_ = {};
    failed_ = false;
    position_ = 0;
    reached_ = 0;
    entry_.reset();
    directory_.clear();
    marks_.assign(1, Mark{});
    kept_ = {};
    file_ = platform::ArchiveFile::create(path, lastError_);
    failed_ = !file_;
    return !failed_;
}

bool ZipWriter::beginEntry(const std::string& name, uint32_t dosDate, uint64_t expectedSize) {
    if (!file_ || failed_ || entry_ || name.size() > longestName) return fail();
    EntryRecord entry{name, dosDate, 0, 0, 0, position_, needsLocalZip64(expectedSize)};
    if (!write(localHeader(entry))) return fail();
    entry_ = std::move(entry);
    return true;
}

bool ZipWriter::writeCompressed(std::span<const std::byte> compressed) {
    if (!file_ || failed_ || !entry_ || !write(compressed)) return fail();
    entry_->compressedSize += compressed.size();
    return true;
}

bool ZipWriter::finishEntry(uint64_t uncompressedSize, uint32_t crc) {
    if (!file_ || failed_ || !entry_) return fail();
    entry_->uncompressedSize = uncompressedSize;
    entry_->crc = crc;
    if (!fitsLocalHeader(*entry_)) return fail();
    const auto header = localHeader(*entry_);
    if (file_->writeAt(entry_->headerOffset, header) != header.size()) return fail();
    appendCentralHeader(directory_, *entry_);
    lastFinished_ = *entry_;
    marks_.push_back({marks_.back().entries + 1, position_, directory_.size()});
    entry_.reset();
    return true;
}

bool ZipWriter::flush() {
    if (!file_ || failed_ || !file_->flush()) return fail();
    return true;
}

bool ZipWriter::close() {
    if (!file_) return !failed_;
    entry_.reset();
    // A failed entry's bytes are cut off first, which gives back room on a
    // full disk: often enough for the directory of every finished entry.
    if (!writeEnd(marks_.back())) {
        fail();
        keepFewerThatFit();
    }
    if (!file_->flush()) fail();
    if (!file_->close()) fail();
    file_.reset();
    return !failed_;
}

// Keeps the reason of the first failure, if it was a system call's.
bool ZipWriter::fail() {
    if (!failed_ && file_) lastError_ = file_->lastError();
    failed_ = true;
    return false;
}

bool ZipWriter::write(std::span<const std::byte> bytes) {
    const size_t written = file_->writeAt(position_, bytes);
    position_ += written;
    reached_ = std::max(reached_, position_);
    return written == bytes.size();
}

// The file ends with the directory of the entries up to the mark, written
// right after their data; the truncation first gives back the room of
// anything that came after them.
bool ZipWriter::writeEnd(const Mark& mark) {
    kept_ = mark;
    position_ = mark.dataEnd;
    return file_->truncate(mark.dataEnd) && write(std::span(directory_).first(mark.directoryEnd)) &&
           write(endRecords(mark.entries, mark.directoryEnd, mark.dataEnd));
}

std::vector<std::byte> ZipWriter::keptEnd() const {
    std::vector<std::byte> end(directory_.begin(), directory_.begin() + static_cast<ptrdiff_t>(kept_.directoryEnd));
    const auto records = endRecords(kept_.entries, kept_.directoryEnd, kept_.dataEnd);
    end.insert(end.end(), records.begin(), records.end());
    return end;
}

// Fewer entries than all the finished ones: the most whose directory fits
// where the file has been, room that a full disk or a size limit has
// already granted. Without any such room, only the empty archive is tried.
void ZipWriter::keepFewerThatFit() {
    const uint64_t room = reached_;
    for (size_t k = marks_.size() - 1; k-- > 0;) {
        const Mark& mark = marks_[k];
        const uint64_t end =
            mark.dataEnd + mark.directoryEnd + endRecords(mark.entries, mark.directoryEnd, mark.dataEnd).size();
        if (end <= room || k == 0) {
            writeEnd(mark);
            return;
        }
    }
}

}  // namespace quilbex::zip
