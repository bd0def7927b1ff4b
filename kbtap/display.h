// The library's own X connections. Xlib's error handlers are process-wide, and its default ones
// end the process (the I/O one on whichever thread met the lost connection); errors on our
// connections are ignored instead, and a lost connection only marks that display dead, so that
// its thread returns. Errors on the program's own connections go to the handlers it had.
// Private to the library.
#pragma once
#include <X11/Xlib.h>

namespace kbtap {

// XOpenDisplay of the program's display, or null.
Display* OpenOwnDisplay();
void CloseOwnDisplay(Display* display);
// Whether the connection to the server was lost: nothing more is asked of it.
bool IsDead(Display* display);

}  // namespace kbtap
