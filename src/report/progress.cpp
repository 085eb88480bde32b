#include "report/progress.hpp"

#include <algorithm>

#include "report/progress_text.hpp"
#include "platform/terminal.hpp"

namespace quilbex::report {

Progress::Progress(platform::Console& console, int32_t recordingCount, uint64_t totalBytes, Terminal terminal,
                   bool piecesCut)
    : console_(console), recordingCount_(recordingCount) {
    live_.emplace();
    live_->piecesCut = piecesCut;
    live_->terminal = std::move(terminal);
    live_->totalBytes = totalBytes;
    live_->start = live_->terminal.milliseconds();
}

std::string Progress::counter(int32_t n) const {
    return "[" + std::to_string(n) + "/" + std::to_string(recordingCount_) + "]";
}

void Progress::report(int32_t n, const std::string& name, uint64_t length) {
    if (live_) {
        ++live_->files;
        return;
    }
    if (verbose_) {
        console_.outLine(counter(n) + " Adding " + name + " length " + std::to_string(length) + " into " + zipPath_);
        return;
    }
    rewrite("Adding " + counter(n) + ": " + name, lastProgressLength_);
}

void Progress::endRecording() {
    if (live_) ++live_->recordings;
}

void Progress::begin(int32_t n, const std::string& name) {
    if (!live_) return;
    live_->head = "Adding " + counter(n) + ": " + name;
    live_->ended = false;
}

void Progress::advance(uint64_t bytes) {
    if (!live_) return;
    live_->bytesDone += bytes;
    refresh();
}

void Progress::refresh() {
    if (!live_ || live_->head.empty() || live_->ended) return;
    const int64_t now = live_->terminal.milliseconds();
    if (!live_->lastDrawn || now - *live_->lastDrawn >= refreshMilliseconds) draw(now);
}

void Progress::endLine() {
    if (!live_ || live_->head.empty() || live_->ended) return;
    draw(live_->terminal.milliseconds());
    console_.outLine("");
    lastProgressLength_ = 0;
    live_->ended = true;
}

void Progress::summarize() {
    if (!live_) return;
    endLine();
    const int64_t elapsed = live_->terminal.milliseconds() - live_->start;
    const std::optional<int32_t> recordings =
        live_->piecesCut ? std::optional<int32_t>(live_->recordings) : std::nullopt;
    console_.outLine(summaryText(live_->files, recordings, live_->bytesDone, elapsed));
}

// The first line is drawn as the first bytes arrive. Bytes come a block at a
// time, so the rate is measured from one block's arrival to another's: a
// sample before the first block would count its reading time without its
// bytes.
void Progress::draw(int64_t now) {
    Live& live = *live_;
    live.lastDrawn = now;
    live.rate.add(now, live.bytesDone);
    const int columns = live.terminal.columns();
    const std::string text =
        fitToWidth(live.head, progressFields(live.bytesDone, live.totalBytes, live.rate.bytesPerSecond()), columns);
    // A window made narrower since the last line would wrap a blank as long
    // as that line; the line itself may have wrapped onto the rows below, so
    // they are cleared too.
    const size_t room = lineRoom(columns);
    const bool wrapped = lastProgressLength_ > room;
    rewrite(text, std::min(lastProgressLength_, room), wrapped ? platform::eraseToEndOfScreen() : "");
    console_.flushOut();
}

// Blanks over the previous line first, since a shorter line would leave its
// tail on screen; the cursor stays at the start for the next one.
void Progress::rewrite(const std::string& text, size_t blanks, const std::string& erase) {
    console_.out(std::string(blanks, ' ') + "\r" + erase + text + "\r");
    lastProgressLength_ = text.size();
}

Progress makeProgress(platform::Console& console, const output::FilePlan& plan, const std::string& zipPath,
                      bool verbose, const std::optional<Terminal>& terminal) {
    const auto fileCount = static_cast<int32_t>(plan.fileCount());
    if (!terminal) return {console, fileCount, zipPath, verbose};
    const bool piecesCut = plan.options().secondsPerFile != 0;
    return {console, fileCount, plan.totalBytes(), *terminal, piecesCut};
}

}  // namespace quilbex::report
