// quilbex-cardfs: serves a card image read-only through FUSE, optionally
// slow or faulty, so tests can attach a loop device and give the recovery
// tool a real block device that misbehaves on cue.

#include "card_fs.hpp"
#include "card_server.hpp"
#include "options.hpp"

#include <algorithm>
#include <iostream>
#include <memory>
#include <system_error>

namespace {

cardfs::ReadRules rules_for(const cardfs::Options& options, std::uint64_t image_size) {
    cardfs::ReadRules rules;
    rules.data_end = std::min(image_size, options.eof_at.value_or(image_size));
    rules.failing = options.failing;
    rules.max_chunk = options.max_chunk;
    rules.gone_at = options.gone_at;
    return rules;
}

std::unique_ptr<cardfs::CardServer> make_server(const cardfs::Options& options) {
    auto server = std::unique_ptr<cardfs::CardServer>(
        new cardfs::CardServer{cardfs::CardImage(options.image), {}, nullptr, options.delay, nullptr});
    server->rules = rules_for(options, server->image.size());
    if (options.rate_mbps) {
        server->throttle = std::make_unique<cardfs::Throttle>(*options.rate_mbps * 1e6);
    }
    if (options.log_path) {
        server->log = std::make_unique<cardfs::ReadLog>(*options.log_path);
    }
    return server;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string program = argc > 0 ? argv[0] : "quilbex-cardfs";
    try {
        const cardfs::Options options = cardfs::parse_options(argc, argv);
        if (options.help) {
            std::cout << cardfs::usage_text(program);
            return 0;
        }
        auto server = make_server(options);
        return cardfs::run_card_fs(*server, program, options.mountpoint, options.fuse_args);
    } catch (const cardfs::UsageError& error) {
        std::cerr << program << ": " << error.what() << "\n"
                  << "usage: " << program << " IMAGE MOUNTPOINT [options]  (--help for more)\n";
        return 2;
    } catch (const std::system_error& error) {
        std::cerr << program << ": " << error.what() << "\n";
        return 1;
    }
}
