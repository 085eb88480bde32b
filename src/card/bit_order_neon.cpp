// 64-bit ARM: NEON has a single-instruction bit reversal per byte (RBIT), and
// every AArch64 processor has NEON, so no run-time check is needed.

#include <arm_neon.h>

#include "card/bit_order.hpp"

namespace quilbex::card {
namespace {

void restoreBitOrderNeon(std::byte* data, size_t length) {
    auto* p = reinterpret_cast<uint8_t*>(data);
    size_t i = 0;
    for (; i + 64 <= length; i += 64) {
        const uint8x16_t a = vld1q_u8(p + i), b = vld1q_u8(p + i + 16);
        const uint8x16_t c = vld1q_u8(p + i + 32), d = vld1q_u8(p + i + 48);
        vst1q_u8(p + i, vrbitq_u8(a));
        vst1q_u8(p + i + 16, vrbitq_u8(b));
        vst1q_u8(p + i + 32, vrbitq_u8(c));
        vst1q_u8(p + i + 48, vrbitq_u8(d));
    }
    for (; i + 16 <= length; i += 16) vst1q_u8(p + i, vrbitq_u8(vld1q_u8(p + i)));
    restoreBitOrderPortable(data + i, length - i);
}

}  // namespace

std::vector<BitOrderPath> availableBitOrderPaths() {
    return {{"portable", restoreBitOrderPortable}, {"neon", restoreBitOrderNeon}};
}

}  // namespace quilbex::card
