#pragma once
// The nights of a card as an inline SVG picture: one row per night, noon to
// noon on the recorder's clock, labelled with the evening's date; hour ticks
// along the top; each recording a bar from its start for its length, with a
// <title> the browser shows on hover and data attributes for tools. Empty
// nights between nights with recordings get rows of their own, so a night the
// recorder missed shows as a gap; a longer run of them is one row of text.
// A recording that runs on past noon is cut at the end of its night's row;
// its title and data-length keep its whole length.
//
// A pixel is 90 seconds. Bars of one night and one kind that would lie within
// a pixel of each other are drawn as one bar that counts them, so the page of
// a card of tens of thousands of short recordings holds a few bars a night.

#include <cstdint>
#include <vector>

#include "report/html_text.hpp"
#include "scan/recording_table.hpp"

namespace quilbex::report {

enum class BarKind : uint8_t {
    plain,
    damaged,       // zero-filled bytes, blocks without the magic, an unreadable header
    clockSetBack,  // overlaps the recording before, or repeats an earlier start
};

// Writes the <svg> element; kinds[k] is recording k's. Returns how many
// recordings were left out because their start is no valid date.
uint64_t writeNightTimeline(const scan::RecordingTable& table, const std::vector<BarKind>& kinds,
                            const PageSink& sink);

}  // namespace quilbex::report
