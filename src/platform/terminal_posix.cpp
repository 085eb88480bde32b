#include <sys/ioctl.h>
#include <unistd.h>

#include "platform/terminal.hpp"

namespace quilbex::platform {

bool standardOutputIsTerminal() { return ::isatty(STDOUT_FILENO) == 1; }

int standardOutputColumns() {
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0) return 0;
    return size.ws_col;
}

const char* eraseToEndOfScreen() { return "\x1b[J"; }

}  // namespace quilbex::platform
