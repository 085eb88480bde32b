#include "output/folder_resume.hpp"

#include <algorithm>
#include <cstring>

#include "output/checksum_list.hpp"
#include "output/folder_destination.hpp"
#include "output/read_back.hpp"
#include "platform/aligned_buffer.hpp"
#include "platform/folder.hpp"
#include "platform/output_file.hpp"
#include "platform/read_back_file.hpp"

namespace quilbex::output {
namespace {

constexpr size_t readSize = size_t{1} << 20;

// The lines of a text file, one after another; at its end, or at a failed
// read, next() gives none.
class LineReader {
public:
    explicit LineReader(const std::string& path) : buffer_(readSize, platform::ReadBackFile::alignment) {
        open_ = !file_.open(path).any();
    }

    std::optional<std::string> next() {
        for (;;) {
            if (const size_t end = pending_.find('\n', start_); end != std::string::npos) {
                std::string line = pending_.substr(start_, end - start_);
                start_ = end + 1;
                return line;
            }
            pending_.erase(0, start_);
            start_ = 0;
            size_t got = 0;
            if (!open_ || file_.read(buffer_.span(), got).any() || got == 0) return std::nullopt;
            pending_.append(reinterpret_cast<const char*>(buffer_.span().data()), got);
        }
    }

private:
    platform::ReadBackFile file_;
    platform::AlignedBuffer buffer_;
    bool open_ = false;
    std::string pending_;
    size_t start_ = 0;
};

// The file's SHA-256 as the disk holds it, when it has exactly `size` bytes.
std::optional<platform::Sha256Digest> hashOfFile(const std::string& path, uint64_t size) {
    const FileOnDisk found = hashOnDisk(path);
    if (found.error.any() || found.length != size) return std::nullopt;
    return found.digest;
}

std::string optionsText(const PlanOptions& options) {
    const std::string offset = options.utcOffsetMinutes ? std::to_string(*options.utcOffsetMinutes) : "none";
    return "s=" + std::to_string(options.secondsPerFile) + " g=" + (options.guano ? "1" : "0") + " z=" + offset +
           " n=" + options.namePrefix;
}

}  // namespace

std::string cardFingerprint(const platform::Sha256Digest& headers, const PlanOptions& options) {
    platform::Sha256 hash;
    hash.add(std::as_bytes(std::span(headers)));
    const std::string text = optionsText(options);
    hash.add(std::as_bytes(std::span(text)));
    return platform::hexDigest(hash.finish());
}

platform::SystemError writeFingerprint(const std::string& folder, const std::string& fingerprint) {
    const std::string path = pathInFolder(folder, std::string(fingerprintName));
    const std::string text = fingerprint + "\n";
    platform::OutputFile file;
    if (const auto error = platform::removeFile(path); error.any()) return error;
    if (const auto error = file.create(path); error.any()) return error;
    if (const auto error = file.write(std::as_bytes(std::span(text))); error.any()) return error;
    return file.close();
}

std::optional<DoneFiles> findDoneFiles(const std::string& folder, const FilePlan& plan,
                                       const std::string& fingerprint, const std::atomic<int>* stopSignal) {
    if (LineReader(pathInFolder(folder, std::string(fingerprintName))).next() != fingerprint) return std::nullopt;
    DoneFiles result;
    LineReader list(pathInFolder(folder, std::string(checksumListName)));
    // "HASH  NAME": 64 hex digits, two spaces, the name.
    std::optional<std::string> line = list.next();
    std::optional<int32_t> recording;  // of the file before
    const auto endRecording = [&] {
        if (recording && !result.done.empty() && result.done.back()) ++result.recordingsEnded;
    };
    plan.forEach([&](const PlannedFile& file) {
        if (recording != file.recording) endRecording();
        recording = file.recording;
        result.done.push_back(false);
        if (!line || line->size() < 66 || line->compare(66, std::string::npos, file.heading.name) != 0) return true;
        const std::string listedHash = line->substr(0, 64);
        line = list.next();
        if (stopSignal && stopSignal->load() != 0) {
            result.interrupted = true;
            return false;
        }
        const auto digest = hashOfFile(pathInFolder(folder, file.heading.name), file.heading.plannedSize);
        if (!digest || platform::hexDigest(*digest) != listedHash) return true;
        result.done.back() = true;
        ++result.count;
        result.listed.emplace_back(*digest, file.heading.name);
        return true;
    });
    if (!result.interrupted) endRecording();
    return result;
}

}  // namespace quilbex::output
