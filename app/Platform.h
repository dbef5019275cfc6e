#pragma once

#include <string>

namespace korbenit {

// Whether a top-level window of the window class className exists on the display: a
// child of the root window, or a client that a window manager has put into its frame.
// On a window system without window classes none exists.
bool TopLevelWindowOfClassExists(const std::string& className);

// Makes the windows' designed faces (MS Sans Serif, Tahoma, Courier New) available, or
// faces with the same metrics, so that captions fit their controls as designed.
void LoadInterfaceFonts();

// What executables' names end in on this platform ("" here, ".exe" on Windows).
const char* ExecutableSuffix();

}  // namespace korbenit
