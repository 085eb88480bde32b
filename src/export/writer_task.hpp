#pragma once
// What the reader hands the writer, in entry order.

#include <cstdint>

#include "export/chunk.hpp"

namespace quilbex::exporting {

struct WriterTask {
    int32_t recording = 0;
    // The recording's next chunk; null when the recording is skipped because
    // the seek to its first block was refused.
    Chunk* chunk = nullptr;
};

}  // namespace quilbex::exporting
