#pragma once
// Standard output as a terminal: whether it is one, and how wide it is.

namespace quilbex::platform {

// True when standard output is a terminal (a console window on Windows), not
// a pipe, a file or a device.
bool standardOutputIsTerminal();

// The width in columns of the terminal on standard output, asked anew on
// every call so that a resized window is seen at once; 0 when the system
// cannot say.
int standardOutputColumns();

// What clears the screen from the cursor to its end: a line that a narrowed
// window has wrapped onto the rows below included. Empty where the console
// takes no such sequence.
const char* eraseToEndOfScreen();

}  // namespace quilbex::platform
