#include "platform/dos_time.hpp"

namespace quilbex::platform {

CalendarTime decodeDosDateTime(uint32_t t) {
    return {static_cast<int>(t >> 25) + 1980,   static_cast<int>((t >> 21) & 0x0F), static_cast<int>((t >> 16) & 0x1F),
            static_cast<int>((t >> 11) & 0x1F), static_cast<int>((t >> 5) & 0x3F),  static_cast<int>(t & 0x1F) * 2};
}

}  // namespace quilbex::platform
