#pragma once
// Text for the report page: escaping, and the sink the page is written into
// a piece at a time, so that the page of a large card is never whole in
// memory.

#include <functional>
#include <string>
#include <string_view>

namespace quilbex::report {

using PageSink = std::function<void(std::string_view)>;

// The text with &, <, >, " and ' written as character references, so that
// names from the card can stand in an element or an attribute.
std::string escapeHtml(std::string_view text);

}  // namespace quilbex::report
