// quilbex-stage-cost CARD BLOCKS ZIP
//
// What each stage of the export costs when it runs alone on one thread, with
// no pipeline around it: reading the first BLOCKS blocks of CARD (seek, 4 MiB
// read, bit order), deflating their payload in the export's chunks (cut as
// the export's reader cuts them, behind a WAV header), and storing the
// deflated chunks through the zip writer into ZIP as one entry. The deflate
// is the export's, or ISA-L's alone with QUILBEX_DEFLATE=isal.
// With the stages' CPU seconds apart, bench/run can tell the shortest wall
// time any thread count could reach on this machine.
//
// Prints one line: read_cpu_s compress_cpu_s write_cpu_s entry_bytes
// compressed_bytes.

#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "card/card_device.hpp"
#include "card/sector_reader.hpp"
#include "export/block_cutter.hpp"
#include "export/chunk.hpp"
#include "export/chunk_compressor.hpp"
#include "wav/wav_header.hpp"
#include "platform/aligned_buffer.hpp"
#include "platform/console.hpp"
#include "platform/diagnostic_log.hpp"
#include "scan/block_format.hpp"
#include "zip/zip_writer.hpp"

namespace {

using namespace quilbex;

double threadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Adds the CPU time of one call to a stage's total.
template <typename Call>
auto charge(double& total, Call&& call) {
    const double start = threadSeconds();
    auto result = call();
    total += threadSeconds() - start;
    return result;
}

struct Costs {
    double read = 0, compress = 0, write = 0;
    uint64_t entryBytes = 0, compressedBytes = 0;
};

int fail(const std::string& what) {
    std::fprintf(stderr, "quilbex-stage-cost: %s\n", what.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) return fail("usage: quilbex-stage-cost CARD BLOCKS ZIP");
    const int32_t blocks = std::atoi(argv[2]);
    if (blocks <= 0) return fail("BLOCKS must be a positive number");
    platform::Console console(stdout, stderr);
    const platform::DiagnosticLog log(console);
    auto card = card::openDrive(console, log, argv[1]);
    if (!card) return fail("cannot open the card");
    zip::ZipWriter zip;
    if (!zip.open(argv[3])) return fail("cannot create the archive");

    // The block goes behind room for the bytes that precede its payload in
    // the stream, as in the export's block buffers.
    const size_t alignment = card->raw().bufferAlignment();
    const size_t lead = (exporting::Chunk::historyCapacity + alignment - 1) / alignment * alignment;
    platform::AlignedBuffer buffer(lead + static_cast<size_t>(scan::blockSize), alignment);
    std::byte* block = buffer.data() + lead;
    std::byte* payload = block + scan::blockHeaderSize;

    const auto header = wav::buildWavHeader(uint64_t(blocks) * scan::blockPayloadSize);
    exporting::BlockCutter cutter;
    exporting::ChunkCompressor compressor(deflate::deflateMode(std::getenv("QUILBEX_DEFLATE")));
    exporting::Chunk chunk;
    Costs costs;
    uLong crc = 0;
    bool ok = zip.beginEntry("stage-cost.wav", 0, header.size() + uint64_t(blocks) * scan::blockPayloadSize);
    for (int32_t b = 0; ok && b < blocks; ++b) {
        ok = charge(costs.read, [&] {
            bool attempted = false;
            return card->fileSeek(int64_t{b} * scan::blockSize, attempted) != -1 && attempted &&
                   !card::readSectors(card->raw(), {block, static_cast<size_t>(scan::blockSize)});
        });
        const auto blockHeader = b == 0 ? std::span<const std::byte>(header) : std::span<const std::byte>();
        cutter.placeLead(payload, blockHeader);
        constexpr auto payloadSize = static_cast<size_t>(scan::blockPayloadSize);
        for (size_t start = 0; ok && start < payloadSize;) {
            const size_t stop = exporting::BlockCutter::nextCut(start, payloadSize);
            const size_t history = start == 0 && b == 0 ? 0 : exporting::Chunk::historyCapacity;
            exporting::BlockCutter::cut(chunk, 0, payload, start, stop, start == 0 ? blockHeader.size() : 0, history);
            chunk.last = b + 1 == blocks && stop == payloadSize;
            start = stop;
            charge(costs.compress, [&] { compressor.compress(chunk); return 0; });
            crc = crc32_combine(crc, chunk.crc, static_cast<z_off_t>(chunk.data.size()));
            costs.entryBytes += chunk.data.size();
            costs.compressedBytes += chunk.compressedLength;
            ok = chunk.deflated && charge(costs.write, [&] { return zip.writeCompressed(chunk.compressedData()); });
        }
    }
    ok = ok && charge(costs.write, [&] { return zip.finishEntry(costs.entryBytes, static_cast<uint32_t>(crc)); });
    ok = charge(costs.write, [&] { return zip.close(); }) && ok;
    if (!ok) return fail("a read, a deflate or a write failed");
    std::printf("%.3f %.3f %.3f %llu %llu\n", costs.read, costs.compress, costs.write,
                static_cast<unsigned long long>(costs.entryBytes),
                static_cast<unsigned long long>(costs.compressedBytes));
    return 0;
}
