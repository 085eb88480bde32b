#include <cstdio>
#include <exception>
#include <span>

#include "card_writer.hpp"
#include "error.hpp"
#include "layout.hpp"
#include "options.hpp"

namespace {

void print_list(const std::vector<mkcard::RecordingSpan>& spans) {
    for (std::size_t i = 0; i < spans.size(); ++i)
        std::printf("%zu %llu %llu 0x%08X\n", i,
                    static_cast<unsigned long long>(spans[i].first_block),
                    static_cast<unsigned long long>(spans[i].end_block), spans[i].time);
}

int run(std::span<char* const> args) {
    const mkcard::Options options = mkcard::parse_options(args);
    if (options.help) {
        std::fputs(mkcard::usage_text(), stdout);
        return 0;
    }
    const mkcard::Layout layout = mkcard::build_layout(options.items);
    const auto spans = mkcard::write_card(options, layout);
    if (options.list) print_list(spans);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(std::span<char* const>(argv + 1, static_cast<std::size_t>(argc - 1)));
    } catch (const mkcard::Error& e) {
        std::fprintf(stderr, "quilbex-mkcard: %s\n", e.what());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quilbex-mkcard: unexpected failure: %s\n", e.what());
    }
    return 1;
}
