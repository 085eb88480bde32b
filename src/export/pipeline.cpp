// The export pipeline
//
//   reader (1 thread) --chunks--> compressors (N threads) --deflate data--> writer (calling thread)
//
// The reader walks the files of the plan (output/file_plan) in order: whole
// recordings, or pieces of N seconds. For each block it takes an aligned
// buffer from the block pool, seeks, and reads the whole 4 MiB block into it
// (the bit order is restored as it comes in); every block is read once, even
// when two pieces share it. A file's stream is its WAV header, its payload
// and, with GUANO, the metadata chunk; the reader cuts it into chunks at
// fixed positions, four per block of at most 1 MiB, and at the files' bounds.
// A chunk points into the block buffer: the data stays where it was read, and
// the buffer's lead bytes before the payload take a whole recording's header,
// or a copy of the previous block's last 32 KiB, so that every chunk and the
// 32 KiB of its file's stream before it lie in one piece. A piece's header and
// a file's metadata chunk lie in a chunk's own bytes; a chunk that follows
// them, or starts a piece inside a block, has less or no dictionary (deflate
// needs none). Every chunk goes into two queues in the same order: the
// compress queue, which any idle compressor takes from, and the write queue,
// which the writer takes from strictly in order.
//
// A compressor (export/chunk_compressor) deflates a chunk by itself with our
// deflater for audio (deflate/): a probe for repeats decides
// between one literals-only block with a code built from the chunk's byte
// counts (noise-like audio) and ISA-L's level 1 with the 32 KiB before it as
// dictionary (silence, tones, zero fill); a sync flush at the end, or the
// final block for a file's last chunk. It computes the chunk's CRC-32 and
// lets go of the block buffer, which returns to the pool when the reader and
// every chunk cut from it are done. A chunk's bounds and dictionary depend
// only on positions in the stream, and the choice only on its bytes, so its
// deflate data is the same whichever compressor makes it and whenever: a
// file's chunks end to end are one deflate stream, and the output is the
// same byte for byte for any number of compressors. One compressor is the
// same code with N = 1. A destination that takes the files' own bytes (a
// folder) gets no deflate work done: the compressors just pass the chunks on,
// and the writer, which writes the bytes from the block buffer, is the one
// that lets go of it. When it keeps each file's SHA-256 (a folder's checksum
// list), a single thread takes the compressors' place and hashes the chunks
// in order, so that one hash serves every copy the destination writes.
// A file whose recording ends early gets an empty last chunk (just the final
// block, or its metadata chunk), or its header alone when no block was read.
// Compressors run at a lower priority than the reader, so that when the
// cores are busy the card still gets its next read at once.
//
// The writer takes the next task from the write queue, waits until its chunk
// is compressed, and passes the deflate data (or the bytes themselves) to the
// destination (output/destination), combining the CRC-32s; it begins the
// file at its first chunk, finishes it at the last, and gives each chunk back
// to the chunk pool. The file being written is flushed to the disk along
// the way by a thread of its own (platform/write_behind), so the disk works
// while the card is read and the flush at a file's end is short. Every
// console line of the export comes from the writer, in file order, where an
// export that handled one whole recording after another would print it: what
// the reader found (a failed or refused seek, a failed read, the stop
// signal) travels with the last chunk of its recording, and a skipped
// recording is a task without a chunk. The writer also tells the bytes of
// each chunk to the progress line (export/progress_events, which report/
// draws); on a terminal it waits for the next task
// a quarter second at a time and redraws the line in between, so that a card
// that stalls shows as a falling rate rather than a frozen line.
//
// Rescue (-r): when the read of a block fails, the reader reads it again in
// pieces down to single sectors and zero-fills the sectors that stay
// unreadable (card/sector_rescue). What it could not read travels on the
// block's first chunk; the writer prints its verbose line and adds it to the
// recording's tally (export/rescue_tally), so the report at the end
// (report/rescue_report) too is the same for every thread count.
// When the rescue stops (the card is gone, too many dead blocks in a row, the
// stop signal), the block in hand is left out and the reader ends as at a
// failed read. A healthy block costs nothing more.
//
// Memory: the chunk pool holds 2N + 2 chunks, each with room for its deflate
// output (1.13 MiB); the block pool (2N + 2) / 4 + 1 buffers of 4 MiB, at
// least two, so that one block is read while another is compressed; each
// compressor has about 0.9 MiB of deflate state (ISA-L's, and the literal
// block's table of codes for every pair of bytes). That is about 14 MiB for
// one compressor, 17 MiB for two, 88 MiB for sixteen, whatever the size of the
// card or the length of the recordings. The reader
// waits for a free block or chunk when all are in use, so it is never more
// than the pools ahead of the writer; a queue never holds more tasks than
// there are chunks, bar skipped recordings, which the write queue's capacity
// bounds.
//
// Stopping: the reader ends by itself after the last recording, a failed read
// or the stop signal. It hands on its recording's last chunk and closes both
// queues; the compressors drain the compress queue and the writer the write
// queue, so the destination keeps every file read. When it fails, the
// writer cancels the queues and both pools: every wait of the reader and the
// compressors returns at once, they stop after the block or chunk in hand,
// and the writer joins them before it returns.

#include "export/pipeline.hpp"

#include <algorithm>
#include <chrono>
#include <optional>
#include <thread>
#include <vector>

#include "export/block_cutter.hpp"
#include "export/block_pool.hpp"
#include "export/block_reader.hpp"
#include "export/bounded_queue.hpp"
#include "export/chunk_compressor.hpp"
#include "export/chunk_pool.hpp"
#include "platform/thread_priority.hpp"

namespace quilbex::exporting {
namespace {

// A destination that takes the files' own bytes gets them as they were read:
// the chunks are merely passed on, in the same order, and their data stays
// in the block buffer, which the writer lets go of once it has written it.
void compressChunks(BoundedQueue<Chunk*>& queue, deflate::DeflateMode mode, bool deflate) {
    // The reader comes first: a card kept waiting is time lost for good.
    platform::lowerCurrentThreadPriority();
    // Its state is close to a MiB: made only when there is deflating to do.
    std::optional<ChunkCompressor> compressor;
    if (deflate) compressor.emplace(mode);
    while (const auto chunk = queue.pop()) {
        if (compressor) compressor->compress(**chunk);
        // The writer may reuse the chunk once it is marked compressed.
        if (deflate && (*chunk)->block) (*chunk)->block->release();
        (*chunk)->compressed.set();
    }
}

// For a destination that wants each file's SHA-256, the one thread in the
// compressors' place hashes the chunks in the order the reader cut them,
// ahead of the writer by as many chunks as the pools hold: the hash, which
// costs more than the write, then overlaps with the flushes and renames
// between the files instead of adding to them. Unlike the compressors it
// keeps its priority: it is the slowest stage of such an export, and the
// reader's work beside it is short.
void hashChunks(BoundedQueue<Chunk*>& queue) {
    platform::Sha256 hash;
    while (const auto chunk = queue.pop()) {
        Chunk& piece = **chunk;
        if (piece.first) hash.finish();  // a file cut off before its last chunk leaves nothing behind
        hash.add(piece.data);
        if (piece.last) piece.digest = hash.finish();
        piece.compressed.set();
    }
}

// The next task in entry order; nothing once the queue is drained or
// cancelled.
std::optional<WriterTask> nextTask(BoundedQueue<WriterTask>& queue, ProgressEvents& progress) {
    if (!progress.live()) return queue.pop();
    while (true) {
        auto popped = queue.popFor(std::chrono::milliseconds(ProgressEvents::refreshMilliseconds));
        if (!popped.timedOut) return std::move(popped.item);
        progress.refresh();
    }
}

}  // namespace

WriterOutcome runPipeline(const ExportRequest& request, ProgressEvents& progress, platform::Console& console,
                          const platform::DiagnosticLog& log) {
    const int compressors = std::clamp(request.threads, 1, maxCompressors);
    const bool deflate = request.destination.takesDeflated();
    const bool hash = !deflate && request.destination.wantsDigest();
    // Enough chunks for every compressor to have one in hand and one waiting,
    // and enough blocks for the reader to read one while the compressors
    // work through the chunks of the others.
    const auto chunkCount = static_cast<size_t>(2 * compressors + 2);
    const size_t blockCount = chunkCount / BlockCutter::chunksPerBlock + 1;
    BlockPool blocks(blockCount, request.card.raw().bufferAlignment());
    ChunkPool pool(chunkCount);
    BoundedQueue<Chunk*> compressQueue(chunkCount);
    BoundedQueue<WriterTask> writeQueue(chunkCount);
    BlockReader reader(request.plan, request.table, request.card, blocks, pool, compressQueue, writeQueue,
                       request.stopSignal);
    if (request.rescue) reader.rescueSectors(request.sectorSize);
    if (request.headerSectorCrcs) reader.compareHeaderSectors(*request.headerSectorCrcs, request.sectorSize);

    std::vector<std::thread> threads;
    threads.emplace_back([&reader] { reader.run(); });
    if (hash)
        threads.emplace_back([&compressQueue] { hashChunks(compressQueue); });
    else
        for (int i = 0; i < compressors; ++i)
            threads.emplace_back(
                [&compressQueue, &request, deflate] { compressChunks(compressQueue, request.deflate, deflate); });

    RescueTally rescue(console, request.verbose, request.table.startsTakenFromNext);
    EntryWriter writer(request.table, request.destination, progress, rescue, console, log);
    while (const auto task = nextTask(writeQueue, progress)) {
        const bool goOn = writer.take(*task);
        if (!deflate && task->chunk && task->chunk->block) task->chunk->block->release();
        if (task->chunk) pool.release(task->chunk);
        if (!goOn) {
            writeQueue.cancel();
            compressQueue.cancel();
            pool.cancel();
            blocks.cancel();
            break;
        }
    }
    for (auto& thread : threads) thread.join();
    WriterOutcome outcome = writer.outcome();
    outcome.rescue = rescue.result();
    outcome.blocksReadOtherwise = reader.blocksReadOtherwise();
    return outcome;
}

}  // namespace quilbex::exporting
