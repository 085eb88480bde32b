#include "card_server.hpp"

#include <thread>

namespace cardfs {
namespace {

long long read_planned(const CardImage& image, const ReadPlan& plan, char* buffer,
                       std::uint64_t offset) {
    if (plan.error != 0) {
        return -plan.error;
    }
    return image.read_at(buffer, plan.bytes, offset);
}

}  // namespace

long long CardServer::serve_read(char* buffer, std::size_t length, std::uint64_t offset) const {
    if (delay.count() > 0) {
        std::this_thread::sleep_for(delay);
    }
    const ReadPlan plan = plan_read(rules, offset, length);
    if (throttle) {
        throttle->take(plan.bytes);
    }
    const long long result = read_planned(image, plan, buffer, offset);
    if (log) {
        log->record_read(offset, length, result);
    }
    return result;
}

void CardServer::note_refused_open(int flags) const {
    if (log) {
        log->record_refused_open(flags);
    }
}

}  // namespace cardfs
