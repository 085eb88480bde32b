#include "output/checksum_list.hpp"

#include "platform/folder.hpp"

namespace quilbex::output {

std::string checksumLine(const platform::Sha256Digest& digest, std::string_view name) {
    return platform::hexDigest(digest) + "  " + std::string(name) + "\n";
}

uint64_t checksumLineLength(std::string_view name) { return 2 * sizeof(platform::Sha256Digest) + 3 + name.size(); }

platform::SystemError ChecksumList::create(const std::string& path) {
    if (const auto error = platform::removeFile(path); error.any()) return error;
    if (const auto error = file_.create(path); error.any()) return error;
    made_ = true;
    return {};
}

platform::SystemError ChecksumList::add(const platform::Sha256Digest& digest, std::string_view name) {
    const std::string line = checksumLine(digest, name);
    return file_.write(std::as_bytes(std::span(line)));
}

platform::SystemError ChecksumList::finish() {
    made_ = false;
    const auto flushed = file_.flush();
    const auto closed = file_.close();
    return flushed.any() ? flushed : closed;
}

}  // namespace quilbex::output
