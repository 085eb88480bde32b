#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "platform/ownership.hpp"

namespace quilbex::platform {
namespace {

struct Owner {
    uid_t user;
    gid_t group;
};

// An id in digits alone.
template <typename Id>
std::optional<Id> idFrom(const char* text) {
    if (text == nullptr) return std::nullopt;
    const std::string_view digits(text);
    Id id{};
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), id);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
    return id;
}

// The user who ran sudo, when the process runs as root on their behalf.
std::optional<Owner> sudoUser() {
    if (::geteuid() != 0) return std::nullopt;
    const auto user = idFrom<uid_t>(std::getenv("SUDO_UID"));
    const auto group = idFrom<gid_t>(std::getenv("SUDO_GID"));
    if (!user || !group) return std::nullopt;
    return Owner{*user, *group};
}

// The environment is read once: it does not change during a run.
const std::optional<Owner>& owner() {
    static const std::optional<Owner> user = sudoUser();
    return user;
}

}  // namespace

void handOver(const std::string& path) {
    if (const auto& user = owner()) (void)::lchown(path.c_str(), user->user, user->group);
}

void handOverHandle(intptr_t handle) {
    if (const auto& user = owner()) (void)::fchown(static_cast<int>(handle), user->user, user->group);
}

}  // namespace quilbex::platform
