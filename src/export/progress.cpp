#include "export/progress.hpp"

namespace quilbex::exporting {

void Progress::report(int32_t n, const std::string& name, uint64_t length) {
    const std::string counter = "[" + std::to_string(n) + "/" + std::to_string(recordingCount_) + "]";
    if (verbose_) {
        console_.outLine(counter + " Adding " + name + " length " + std::to_string(length) + " into " + zipPath_);
        return;
    }
    // Blanks over the previous line first, since a shorter line would leave
    // its tail on screen; the cursor stays at the start for the next one.
    const std::string text = "Adding " + counter + ": " + name;
    console_.out(std::string(lastProgressLength_, ' ') + "\r" + text + "\r");
    lastProgressLength_ = text.size();
}

}  // namespace quilbex::exporting
