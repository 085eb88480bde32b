#pragma once
// The figures of the live progress line and of the summary after it, and how
// the line is fitted to the terminal's width. Bytes and rates are in decimal
// units, as cards and card readers are sold: 1 MB = 10^6 bytes, 1 GB = 10^9.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quilbex::report {

// "88 MB/s"; below 10 MB/s with one decimal: "3.2 MB/s".
std::string formatRate(double bytesPerSecond);

// "0:50", "12:04", "1:02:03".
std::string formatDuration(int64_t seconds);

// The figures after the recording's name, most telling first: "41%",
// "3.1/7.5 GB" (done and total in the total's unit), then, once the rate is
// known, "88 MB/s" and, while it is above 0 and bytes remain, "0:50 left".
std::vector<std::string> progressFields(uint64_t done, uint64_t total, std::optional<double> bytesPerSecond);

// The characters a line may hold in a window of the given width: all but the
// last column, as a character written there wraps the line on some
// terminals. A width of 0 (unknown) counts as 80.
size_t lineRoom(int columns);

// The head and as many of the fields, in order and two spaces before each, as
// fit in lineRoom(columns); a head too long is cut.
std::string fitToWidth(const std::string& head, const std::vector<std::string>& fields, int columns);

// "12 recordings, 7.5 GB in 1:25 (88 MB/s)"; when the recordings were cut
// into pieces, "144 files from 66 recordings, 1.3 GB in 0:44 (29 MB/s)".
std::string summaryText(int32_t files, std::optional<int32_t> recordings, uint64_t bytes, int64_t milliseconds);

}  // namespace quilbex::report
