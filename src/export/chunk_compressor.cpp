#include "export/chunk_compressor.hpp"

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>

namespace quilbex::exporting {
namespace {

uint8_t* bytePointer(const std::byte* p) { return reinterpret_cast<uint8_t*>(const_cast<std::byte*>(p)); }

}  // namespace

ChunkCompressor::ChunkCompressor(deflate::DeflateMode mode)
    : mode_(mode), stream_(std::make_unique<isal_zstream>()), levelBuffer_(new uint8_t[ISAL_DEF_LVL1_DEFAULT]) {
    isal_deflate_init(stream_.get());
}

ChunkCompressor::~ChunkCompressor() = default;

void ChunkCompressor::compress(Chunk& chunk) {
    const auto data = chunk.data;
    chunk.crc = data.empty() ? 0 : crc32_gzip_refl(0, bytePointer(data.data()), data.size());
    if (mode_ == deflate::DeflateMode::perChunk && deflateLiterals(chunk)) return;
    deflateWithIsal(chunk);
}

bool ChunkCompressor::deflateLiterals(Chunk& chunk) {
    const auto data = chunk.data;
    if (deflate::matchesPay(data)) return false;
    const size_t size = literals_.plan(deflate::countBytes(data), chunk.last);
    // Data that does not shrink is better stored, as ISA-L does; this also
    // keeps the block well within the chunk's compressed area.
    if (size + deflate::LiteralDeflate::slack >= data.size()) return false;
    chunk.compressedLength = literals_.write(data, chunk.compressedArea());
    chunk.deflated = true;
    return true;
}

void ChunkCompressor::deflateWithIsal(Chunk& chunk) {
    isal_zstream& stream = *stream_;
    isal_deflate_reset(&stream);
    stream.level = 1;
    stream.level_buf = levelBuffer_.get();
    stream.level_buf_size = ISAL_DEF_LVL1_DEFAULT;
    stream.gzip_flag = IGZIP_DEFLATE;
    stream.flush = SYNC_FLUSH;
    stream.end_of_stream = chunk.last ? 1 : 0;

    const auto history = chunk.history;
    bool ok = history.empty() ||
              isal_deflate_set_dict(&stream, bytePointer(history.data()), static_cast<uint32_t>(history.size())) ==
                  COMP_OK;

    const auto data = chunk.data;
    stream.next_in = bytePointer(data.data());
    stream.avail_in = static_cast<uint32_t>(data.size());
    stream.next_out = bytePointer(chunk.compressedArea());
    stream.avail_out = static_cast<uint32_t>(Chunk::compressedCapacity);
    ok = ok && isal_deflate(&stream) == COMP_OK;
    // Done means every byte taken and the flush (or final block) written out.
    const auto doneState = chunk.last ? ZSTATE_END : ZSTATE_NEW_HDR;
    chunk.deflated = ok && stream.avail_in == 0 && stream.internal_state.state == doneState;
    chunk.compressedLength = Chunk::compressedCapacity - stream.avail_out;
}

}  // namespace quilbex::exporting
