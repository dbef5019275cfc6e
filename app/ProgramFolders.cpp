#include "ProgramFolders.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStandardPaths>

namespace korbenit {

TProgramFolders ProgramFolders(const QString& executableFolder, bool executableFolderWritable,
                               const QString& configHome, const QString& picturesFolder) {
  if (executableFolderWritable) {
    QString beside = executableFolder + '/';
    return {beside, beside + QStringLiteral("BMP"), beside};
  }
  QString pictures = picturesFolder + QStringLiteral("/Korbenit");
  return {pictures + '/', pictures, configHome + QStringLiteral("/korbenit-screenshot/")};
}

TProgramFolders ThisProgramsFolders() {
  QString folder = QCoreApplication::applicationDirPath();
  return ProgramFolders(folder, QFileInfo(folder).isWritable(),
                        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation),
                        QStandardPaths::writableLocation(QStandardPaths::PicturesLocation));
}

}  // namespace korbenit
