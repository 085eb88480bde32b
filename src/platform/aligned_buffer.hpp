#pragma once
// A fixed byte buffer whose start meets the alignment that unbuffered device
// reads demand.

#include <cstddef>
#include <memory>
#include <new>
#include <span>

#include "platform/aligned_memory.hpp"

namespace quilbex::platform {

class AlignedBuffer {
public:
    AlignedBuffer(size_t size, size_t alignment)
        : data_(static_cast<std::byte*>(allocateAligned(roundUp(size, alignment), alignment))), size_(size) {
        if (!data_) throw std::bad_alloc();
    }

    std::byte* data() { return data_.get(); }
    const std::byte* data() const { return data_.get(); }
    size_t size() const { return size_; }
    std::span<std::byte> span() { return {data_.get(), size_}; }

private:
    static size_t roundUp(size_t size, size_t alignment) { return (size + alignment - 1) / alignment * alignment; }

    struct Free {
        void operator()(std::byte* p) const { freeAligned(p); }
    };
    std::unique_ptr<std::byte, Free> data_;
    size_t size_;
};

}  // namespace quilbex::platform
