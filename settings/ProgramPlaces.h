#pragma once

#include <string>

namespace korbenit {

// Where the program keeps its files. A copy in a folder of its user's own (portable, or
// the build folder) keeps everything beside itself, as the program always has; an
// installed one keeps its settings in the user's settings folder and treats the user's
// pictures folder + "Korbenit" as its own for pictures, unless something that is not ours
// stands there, when the pictures folder itself serves.
struct TProgramPlaces {
  std::string ExePath;         // ends in the separator: the default folder for saving
  std::string BmpPath;         // made at every start
  std::string SettingsFolder;  // ends in the separator
};

// The decision, from what the platform found: the executable's folder, whether it is a
// portable copy, the program's own settings folder, the user's pictures folder, whether
// "Korbenit" there may be ours; separator is the platform's.
TProgramPlaces ProgramPlacesFor(const std::string& executableFolder, bool portable,
                                const std::string& settingsFolder,
                                const std::string& picturesFolder, bool ownPicturesFolderUsable,
                                char separator);

// This process's places, on Windows: beside the .exe when its folder is the user's to
// write and not one of the system's program folders; otherwise %APPDATA%\Korbenit
// Screenshot and the Pictures folder.
TProgramPlaces ThisProgramsPlaces();

}  // namespace korbenit
