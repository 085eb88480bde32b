#include "platform/mount_table.hpp"

#include <algorithm>
#include <vector>

namespace quilbex::platform {
namespace {

std::vector<std::string_view> fieldsOf(std::string_view line) {
    std::vector<std::string_view> fields;
    size_t at = 0;
    while (at < line.size()) {
        const size_t end = std::min(line.find(' ', at), line.size());
        if (end > at) fields.push_back(line.substr(at, end - at));
        at = end + 1;
    }
    return fields;
}

bool isOctal(char c) { return c >= '0' && c <= '7'; }

// The kernel writes space, tab, newline and backslash as \ and three octal digits.
std::string unescaped(std::string_view field) {
    std::string text;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && isOctal(field[i + 1]) && isOctal(field[i + 2]) &&
            isOctal(field[i + 3])) {
            text += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0'));
            i += 3;
        } else {
            text += field[i];
        }
    }
    return text;
}

// "/" holds every path; "/mnt" holds "/mnt" and "/mnt/a", not "/mntx".
bool holds(std::string_view mountPoint, std::string_view path) {
    if (!path.starts_with(mountPoint)) return false;
    return mountPoint.ends_with('/') || path.size() == mountPoint.size() || path[mountPoint.size()] == '/';
}

}  // namespace

std::string mountTypeOf(std::string_view mountInfo, std::string_view realPath) {
    std::string type;
    size_t longest = 0;
    bool found = false;
    while (!mountInfo.empty()) {
        const size_t end = std::min(mountInfo.find('\n'), mountInfo.size());
        const auto fields = fieldsOf(mountInfo.substr(0, end));
        mountInfo.remove_prefix(std::min(end + 1, mountInfo.size()));
        if (fields.size() < 5) continue;
        size_t dash = 6;
        while (dash < fields.size() && fields[dash] != "-") ++dash;
        if (dash + 1 >= fields.size()) continue;
        const std::string mountPoint = unescaped(fields[4]);
        if (!holds(mountPoint, realPath) || (found && mountPoint.size() < longest)) continue;
        longest = mountPoint.size();
        found = true;
        type = unescaped(fields[dash + 1]);
    }
    return type;
}

}  // namespace quilbex::platform
