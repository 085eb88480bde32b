#pragma once

#include <vector>

#include "layout.hpp"
#include "options.hpp"

namespace mkcard {

// Writes the image (and the --payload-out file, if asked for) and returns
// the recordings whose blocks made it onto the card whole.
std::vector<RecordingSpan> write_card(const Options& options, const Layout& layout);

}  // namespace mkcard
