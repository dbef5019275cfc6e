#pragma once

#include <cstdint>
#include <string>

namespace korbenit {

// Whether a top-level window of the window class className exists on the display: a
// child of the root window, or a client that a window manager has put into its frame.
// On a window system without window classes none exists.
bool TopLevelWindowOfClassExists(const std::string& className);

// Makes the windows' designed faces (MS Sans Serif, Tahoma, Courier New) available, or
// faces with the same metrics, so that captions fit their controls as designed.
void LoadInterfaceFonts();

// Whether a folder holds a portable copy of the program, which keeps its files beside
// itself: a folder of this user's own that it may write. Root's system folders (/usr,
// /opt, ...) hold an installed program even when root starts it.
bool IsPortableCopyFolder(const std::string& folder);

// Whether this user may adopt path as a folder of its own: nothing is there yet, or a
// folder or a link that belongs to this user. Another user's link could send our files
// into their folder.
bool IsOwnFolderOrMissing(const std::string& path);

// This process's id, and whether a process of that id still runs.
int64_t ThisProcessId();
bool ProcessRuns(int64_t id);

// What executables' names end in on this platform ("" here, ".exe" on Windows).
const char* ExecutableSuffix();

}  // namespace korbenit
