#include "output/tee_destination.hpp"

#include <utility>

namespace quilbex::output {

TeeDestination::TeeDestination(Destination& main, std::string mainPath, Destination& second, std::string secondPath)
    : copies_{Copy{&main, std::move(mainPath)}, Copy{&second, std::move(secondPath)}} {}

template <typename Call>
bool TeeDestination::toEach(Call call) {
    for (Copy& copy : copies_)
        if (!copy.failed && !call(*copy.destination)) copy.failed = true;
    return !copies_[0].failed || !copies_[1].failed;
}

bool TeeDestination::beginFile(const FileHeading& file) {
    return toEach([&](Destination& copy) { return copy.beginFile(file); });
}

bool TeeDestination::write(std::span<const std::byte> bytes) {
    return toEach([&](Destination& copy) { return copy.write(bytes); });
}

bool TeeDestination::finishFile(const FileEnd& end) {
    return toEach([&](Destination& copy) { return copy.finishFile(end); });
}

// Every copy is closed, a failed one too: it keeps what it finished.
bool TeeDestination::close() {
    for (Copy& copy : copies_)
        if (!copy.destination->close()) copy.failed = true;
    return !copies_[0].failed && !copies_[1].failed;
}

// A line that does not name its copy gets the copy's path in front.
std::vector<std::string> TeeDestination::failureLines() const {
    std::vector<std::string> lines;
    for (const Copy& copy : copies_) {
        if (!copy.failed) continue;
        for (const auto& line : copy.destination->failureLines())
            lines.push_back(line.empty() || line.find(copy.path) != std::string::npos ? line : copy.path + ": " + line);
    }
    return lines;
}

// Both copies are made alike: the main one's warnings stand for both.
std::vector<std::string> TeeDestination::fileWarnings() const {
    return copies_[0].failed ? copies_[1].destination->fileWarnings() : copies_[0].destination->fileWarnings();
}

CheckTally TeeDestination::finishChecks() {
    CheckTally tally = copies_[0].destination->finishChecks();
    tally += copies_[1].destination->finishChecks();
    return tally;
}

}  // namespace quilbex::output
