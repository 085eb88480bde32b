// The export pipeline
//
//   reader (1 thread) --chunks--> compressors (N threads) --deflate data--> writer (calling thread)
//
// The reader walks the recordings in table order. For each block it seeks,
// reads the whole 4 MiB block into its one aligned buffer (the bit order is
// restored as it comes in) and appends the block's payload to the entry's
// uncompressed stream: the WAV header, then the payload of every block. It
// cuts the stream into chunks of 1 MiB at fixed stream positions, each with a
// copy of the 32 KiB of stream before it. Every chunk goes into two queues in
// the same order: the compress queue, which any idle compressor takes from,
// and the write queue, which the writer takes from strictly in order.
//
// A compressor deflates a chunk by itself: level 1, the 32 KiB as dictionary,
// a sync flush at the end, or the final block for an entry's last chunk; and
// it computes the chunk's CRC-32. A chunk's bounds and dictionary depend only
// on positions in the stream, so its deflate data is the same whichever
// compressor makes it and whenever: an entry's chunks end to end are one
// deflate stream, and the archive is the same byte for byte for any number of
// compressors. One compressor is the same code with N = 1.
//
// The writer takes the next task from the write queue, waits until its chunk
// is compressed, and passes the deflate data to the zip writer, combining the
// CRC-32s; it begins the entry at the entry's first chunk, finishes it at the
// last, and gives each chunk back to the pool. Every console line of the
// export comes from the writer, in entry order, where an export that handled
// one whole recording after another would print it: what the reader found (a
// failed or refused seek, a failed read, the stop signal) travels with the
// last chunk of its recording, and a skipped recording is a task without a
// chunk.
//
// Memory: the pool holds 2N + 2 chunks of about 2.2 MiB (data, history,
// deflate output), the reader one 4 MiB block, each compressor about 0.4 MiB
// of deflate state: some 8.5 MiB + 4.8 MiB per compressor, whatever the size
// of the card or the length of the recordings. The reader waits for a free
// chunk when all are in use, so it is never more than the pool ahead of the
// writer; a queue never holds more tasks than there are chunks, bar skipped
// recordings, which are bounded by the write queue.
//
// Stopping: the reader ends by itself after the last recording, a failed read
// or the stop signal. It hands on its recording's last chunk and closes both
// queues; the compressors drain the compress queue and the writer the write
// queue, so the archive keeps every entry read. When the archive fails, the
// writer cancels the queues and the pool: every wait of the reader and the
// compressors returns at once, they stop after the block or chunk in hand,
// and the writer joins them before it returns.

#include "export/pipeline.hpp"

#include <algorithm>
#include <thread>
#include <vector>

#include "export/block_reader.hpp"
#include "export/bounded_queue.hpp"
#include "export/chunk_compressor.hpp"
#include "export/chunk_pool.hpp"
#include "export/progress.hpp"

namespace quilbex::exporting {
namespace {

void compressChunks(BoundedQueue<Chunk*>& queue) {
    ChunkCompressor compressor;
    while (const auto chunk = queue.pop()) {
        compressor.compress(**chunk);
        (*chunk)->compressed.store(true, std::memory_order_release);
        (*chunk)->compressed.notify_one();
    }
}

}  // namespace

WriterOutcome runPipeline(const ExportRequest& request, ZipWriter& zip, platform::Console& console,
                          const platform::DiagnosticLog& log) {
    const int compressors = std::clamp(request.threads, 1, maxCompressors);
    // Enough chunks for every compressor to have one in hand and one waiting.
    const auto chunkCount = static_cast<size_t>(2 * compressors + 2);
    ChunkPool pool(chunkCount);
    BoundedQueue<Chunk*> compressQueue(chunkCount);
    BoundedQueue<WriterTask> writeQueue(chunkCount);
    BlockReader reader(request.table, request.card, pool, compressQueue, writeQueue, request.stopSignal);

    std::vector<std::thread> threads;
    threads.emplace_back([&reader] { reader.run(); });
    for (int i = 0; i < compressors; ++i) threads.emplace_back([&compressQueue] { compressChunks(compressQueue); });

    Progress progress(console, request.table.recordingCount, request.zipPath, request.verbose);
    EntryWriter writer(request.table, zip, progress, console, log);
    while (const auto task = writeQueue.pop()) {
        const bool goOn = writer.take(*task);
        if (task->chunk) pool.release(task->chunk);
        if (!goOn) {
            writeQueue.cancel();
            compressQueue.cancel();
            pool.cancel();
            break;
        }
    }
    for (auto& thread : threads) thread.join();
    return writer.outcome();
}

}  // namespace quilbex::exporting
