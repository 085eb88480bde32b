#include "output/folder_destination.hpp"

#include "platform/folder.hpp"
#include "zip/entry_time.hpp"

namespace quilbex::output {
namespace {

std::string partPathOf(const std::string& path) { return path + ".part"; }

}  // namespace

std::string pathInFolder(const std::string& folder, const std::string& name) {
    if (folder.empty() || folder.ends_with('/') || folder.ends_with('\\')) return folder + name;
    return folder + "/" + name;
}

bool FolderDestination::beginFile(const FileHeading& file) {
    if (error_.any()) return false;
    ++begun_;
    name_ = file.name;
    path_ = pathInFolder(folder_, file.name);
    start_ = file.start;
    plannedSize_ = file.plannedSize;
    warnings_.clear();
    if (platform::toDosDateTime(file.start).fileTimeError != 0)
        warnings_ = zip::makeFileInfo(file.start, file.storedStart).warnings;
    if (!list_.made() && !createList()) return false;
    // A .part left by an earlier run, or a link planted there, goes first.
    if (!fail(platform::removeFile(partPathOf(path_))) || !fail(file_.create(partPathOf(path_)))) return false;
    partMade_ = true;
    return true;
}

bool FolderDestination::createList() {
    if (!fail(list_.create(pathInFolder(folder_, std::string(checksumListName))))) return false;
    for (const auto& [digest, name] : carried_)
        if (!fail(list_.add(digest, name))) return false;
    return true;
}

bool FolderDestination::write(std::span<const std::byte> bytes) {
    if (error_.any()) return false;
    return fail(file_.write(bytes));
}

// The CRC-32 is the zip's concern: the bytes are on the disk as they came.
bool FolderDestination::finishFile(const FileEnd& end) {
    if (error_.any()) return false;
    if (end.length != plannedSize_) return keepPart();
    // The time is set before the flush, so that it reaches the disk too.
    if (!fail(file_.setModificationTime(start_)) || !fail(file_.flush()) || !fail(file_.close()) ||
        !fail(platform::renameReplacing(partPathOf(path_), path_)))
        return false;
    partMade_ = false;
    renamed_ = true;
    const platform::Sha256Digest& digest = end.digest;
    if (readBack_) readBack_->check({path_, name_, end.length, digest});
    if (digests_) {
        if (digests_->size() < begun_) digests_->resize(begun_);
        (*digests_)[begun_ - 1] = digest;
    }
    return fail(list_.add(digest, name_));
}

// The list and the names go to the disk whatever ended the export, so that
// the files finished so far are found whole and listed after a power cut.
bool FolderDestination::close() {
    if (partMade_) keepPart();
    const auto listed = list_.made() ? list_.finish() : platform::SystemError{};
    const auto named = renamed_ ? platform::flushFolder(folder_) : platform::SystemError{};
    if (!error_.any()) error_ = listed.any() ? listed : named;
    return !error_.any();
}

std::vector<std::string> FolderDestination::failureLines() const {
    const std::string cause = platform::systemErrorLine(error_);
    return {"", "Error: Can't write into " + folder_ + (cause.empty() ? "" : ": " + cause)};
}

bool FolderDestination::fail(platform::SystemError error) {
    if (!error.any()) return true;
    error_ = error;
    if (partMade_) keepPart();
    return false;
}

bool FolderDestination::keepPart() {
    partMade_ = false;
    keptPart_ = partPathOf(path_);
    if (const auto error = file_.close(); error.any() && !error_.any()) error_ = error;
    return !error_.any();
}

}  // namespace quilbex::output
