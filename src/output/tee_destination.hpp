#pragma once
// Two copies in the same read (-m): a destination that hands every call to
// two others of the same kind, the main copy and the second one. Each keeps
// its own files, flushes, checksum list and read-back. Once writing has
// begun, a copy that fails is left alone and the other goes on to the end;
// the tee fails only when both have. Either copy's failure fails the export
// all the same, at its end, with the failed copy's lines naming its path.

#include <array>
#include <string>
#include <vector>

#include "output/destination.hpp"

namespace quilbex::output {

class TeeDestination final : public Destination {
public:
    // The copies with the paths their failure lines are to name; both take
    // deflated data or neither does.
    TeeDestination(Destination& main, std::string mainPath, Destination& second, std::string secondPath);

    bool takesDeflated() const override { return copies_[0].destination->takesDeflated(); }
    bool wantsDigest() const override {
        return copies_[0].destination->wantsDigest() || copies_[1].destination->wantsDigest();
    }
    bool beginFile(const FileHeading& file) override;
    bool write(std::span<const std::byte> bytes) override;
    bool finishFile(const FileEnd& end) override;
    // Closes both; false when either failed, now or before.
    bool close() override;
    // The lines of each copy that failed, each naming the copy.
    std::vector<std::string> failureLines() const override;
    std::vector<std::string> fileWarnings() const override;
    CheckTally finishChecks() override;

private:
    struct Copy {
        Destination* destination;
        std::string path;
        bool failed = false;
    };

    // Hands the call to each copy still going; true while one is.
    template <typename Call>
    bool toEach(Call call);

    std::array<Copy, 2> copies_;
};

}  // namespace quilbex::output
