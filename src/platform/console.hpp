#pragma once
// The one place where the tool's text reaches the console. Standard output is
// flushed before anything is written to standard error or read from standard
// input, so the two streams interleave in program order on a terminal.

#include <cstdio>
#include <string>
#include <string_view>

namespace quilbex::platform {

class Console {
public:
    Console(std::FILE* out, std::FILE* err, std::FILE* in = nullptr);

    void out(std::string_view text);
    void outLine(std::string_view text);  // text, newline, flush
    void flushOut();
    // Ends a line left open on standard output, such as a progress line
    // rewritten in place; nothing when none is.
    void endOutLine();

    void err(std::string_view text);
    void errLine(std::string_view text);

    // Reads one whitespace-delimited word; empty at end of input.
    std::string readWord();

private:
    std::FILE* out_;
    std::FILE* err_;
    std::FILE* in_;
    bool outLineOpen_ = false;  // the last text out did not end a line
};

// printf-style formatting into a string.
[[gnu::format(printf, 1, 2)]] std::string formatText(const char* format, ...);

}  // namespace quilbex::platform
