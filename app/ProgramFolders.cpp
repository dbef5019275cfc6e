#include "ProgramFolders.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>

#include "Platform.h"
#include "ProgramPlaces.h"

namespace korbenit {

namespace {

const QString OwnPicturesFolder = QStringLiteral("/Korbenit");  // as ProgramPlacesFor has it

QString AbsoluteOr(const QString& path, const QString& fallback) {
  return QDir::isAbsolutePath(path) ? path : fallback;
}

}  // namespace

TProgramFolders ProgramFolders(const QString& executableFolder, bool portable,
                               const QString& configHome, const QString& picturesFolder,
                               bool ownPicturesFolderUsable) {
  TProgramPlaces places = ProgramPlacesFor(
      executableFolder.toStdString(), portable, (configHome + "/korbenit-screenshot").toStdString(),
      picturesFolder.toStdString(), ownPicturesFolderUsable, '/');
  return {QString::fromStdString(places.ExePath), QString::fromStdString(places.BmpPath),
          QString::fromStdString(places.SettingsFolder)};
}

QString UserConfigHome() {
  return AbsoluteOr(qEnvironmentVariable("XDG_CONFIG_HOME"), QDir::homePath() + "/.config");
}

QString UserPicturesFolder() {
  return AbsoluteOr(QStandardPaths::writableLocation(QStandardPaths::PicturesLocation),
                    QDir::homePath() + "/Pictures");
}

TProgramFolders ThisProgramsFolders() {
  QString folder = QCoreApplication::applicationDirPath();
  QString pictures = UserPicturesFolder();
  return ProgramFolders(folder, IsPortableCopyFolder(folder.toStdString()), UserConfigHome(),
                        pictures,
                        IsOwnFolderOrMissing((pictures + OwnPicturesFolder).toStdString()));
}

}  // namespace korbenit
