#include <windows.h>

#include "platform/terminal.hpp"

namespace quilbex::platform {

// Only a console handle has a console mode: a pipe or a file has none.
bool standardOutputIsTerminal() {
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

int standardOutputColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!::GetConsoleScreenBufferInfo(::GetStdHandle(STD_OUTPUT_HANDLE), &info)) return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

// A console without virtual terminal processing would print the sequence;
// the blanks before the line are all it gets.
const char* eraseToEndOfScreen() { return ""; }

}  // namespace quilbex::platform
