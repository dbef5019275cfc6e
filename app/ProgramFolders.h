#pragma once

#include <QString>

namespace korbenit {

// Where the program keeps its files. A copy in a folder of its user's own (portable, or
// the build folder) keeps everything beside itself; an installed one (another user's
// folder, or a system folder) keeps the settings in the user's configuration folder and
// treats the user's pictures folder + "/Korbenit" as its own for pictures, unless
// something that is not ours stands there, when the pictures folder itself serves.
struct TProgramFolders {
  QString ExePath;         // ends in "/": the default folder for saving
  QString BmpPath;         // made at every start
  QString SettingsFolder;  // ends in "/"
};

TProgramFolders ProgramFolders(const QString& executableFolder, bool portable,
                               const QString& configHome, const QString& picturesFolder,
                               bool ownPicturesFolderUsable = true);

// The user's configuration and pictures folders. A relative value of the XDG variables
// is invalid and gives way to the default below the home folder.
QString UserConfigHome();
QString UserPicturesFolder();

// The same for this process: its executable's folder and this user's folders.
TProgramFolders ThisProgramsFolders();

}  // namespace korbenit
