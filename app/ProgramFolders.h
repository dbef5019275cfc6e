#pragma once

#include <QString>

namespace korbenit {

// Where the program keeps its files. A copy in a folder its user may write (portable,
// or the build folder) keeps everything beside itself; an installed one (a folder only
// root may write) keeps the settings in the user's configuration folder and treats the
// user's pictures folder + "/Korbenit" as its own for pictures.
struct TProgramFolders {
  QString ExePath;         // ends in "/": the default folder for saving
  QString BmpPath;         // made at every start
  QString SettingsFolder;  // ends in "/"
};

TProgramFolders ProgramFolders(const QString& executableFolder, bool executableFolderWritable,
                               const QString& configHome, const QString& picturesFolder);

// The same for this process: its executable's folder and this user's folders.
TProgramFolders ThisProgramsFolders();

}  // namespace korbenit
