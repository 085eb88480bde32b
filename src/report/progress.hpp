#pragma once
// The per-file progress output, in one of three forms: with -V a line per
// file (a recording, or a piece of one); otherwise one line rewritten in
// place, which on a terminal also shows the bytes done, the read rate and the
// time left, is redrawn while a file is read, and is followed by a summary at
// the end.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "export/progress_events.hpp"
#include "output/file_plan.hpp"
#include "report/rate_meter.hpp"
#include "platform/clock.hpp"
#include "platform/console.hpp"

namespace quilbex::report {

// Standard output as a terminal, as the live progress line sees it.
struct Terminal {
    std::function<int()> columns;  // the window's width now; 0 when unknown
    std::function<int64_t()> milliseconds = [] { return int64_t{platform::processMilliseconds()}; };
};

class Progress : public exporting::ProgressEvents {
public:
    // The forms for output that is verbose or goes to no terminal.
    Progress(platform::Console& console, int32_t recordingCount, std::string zipPath, bool verbose)
        : console_(console), recordingCount_(recordingCount), zipPath_(std::move(zipPath)), verbose_(verbose) {}
    // The live form, out of the total bytes of every recording's entry. With
    // piecesCut (-s) the summary counts the files and the recordings apart.
    Progress(platform::Console& console, int32_t recordingCount, uint64_t totalBytes, Terminal terminal,
             bool piecesCut);

    // Whether refresh() is worth calling while the export waits.
    bool live() const override { return live_.has_value(); }

    // After the n-th recording (from 1) was read; length is the bytes of its
    // entry. In the live form only counted, for the summary.
    void report(int32_t n, const std::string& name, uint64_t length) override;

    // The calls below act in the live form only.

    // The last file of a recording was reported: counted for the summary.
    void endRecording() override;
    // Recording n is being read from now on.
    void begin(int32_t n, const std::string& name) override;
    // Bytes more of it were read; redraws the line when a refresh is due.
    void advance(uint64_t bytes) override;
    // Redraws the line when a refresh is due.
    void refresh() override;
    // Leaves the line on screen with its latest figures, so that a message
    // can follow on a line of its own.
    void endLine() override;
    // After a completed export: the line's last figures, then the summary.
    void summarize() override;

private:
    struct Live {
        Terminal terminal;
        uint64_t totalBytes = 0;
        int64_t start = 0;
        std::optional<int64_t> lastDrawn;  // when the line was last drawn
        // endLine() ended the line and no recording has begun since: a skipped
        // recording or the summary must not draw it a second time.
        bool ended = false;
        uint64_t bytesDone = 0;
        bool piecesCut = false;
        int32_t files = 0;       // reported so far
        int32_t recordings = 0;  // ended so far
        std::string head;        // "Adding [n/N]: name"; empty before the first recording
        RateMeter rate;
    };

    std::string counter(int32_t n) const;
    void draw(int64_t now);
    void rewrite(const std::string& text, size_t blanks, const std::string& erase = {});

    platform::Console& console_;
    int32_t recordingCount_;
    std::string zipPath_;
    bool verbose_ = false;
    size_t lastProgressLength_ = 0;  // length of the last in-place line; 0 when none is on screen
    std::optional<Live> live_;
};

// The form the output asks for: the live one when a terminal is given, else
// a line per file (verbose) or one rewritten in place.
Progress makeProgress(platform::Console& console, const output::FilePlan& plan, const std::string& zipPath,
                      bool verbose, const std::optional<Terminal>& terminal);

}  // namespace quilbex::report
