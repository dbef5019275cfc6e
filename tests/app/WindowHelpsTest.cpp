#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFontDatabase>
#include <QFontInfo>
#include <QStyle>
#include <QTest>

#include "Application.h"
#include "DialogDriver.h"
#include "Platform.h"
#include "ProgramFolders.h"
#include "QtPrinters.h"
#include "TempFolder.h"
#include "Unprivileged.h"
#include "WindowRig.h"
#include "uAbout.h"

namespace korbenit {
namespace {

// Whether a control shows its whole caption at the font it actually got.
bool CaptionFits(QWidget* control, const QString& text) {
  QFontMetrics metrics(control->font());
  if (auto* button = qobject_cast<QPushButton*>(control)) {
    int margin = button->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button);
    return metrics.horizontalAdvance(text) + 2 * margin <= button->width();
  }
  auto* label = qobject_cast<QLabel*>(control);
  QRect room = label->contentsRect();
  if (!label->wordWrap()) return metrics.horizontalAdvance(text) <= room.width();
  QRect needed = metrics.boundingRect(room, Qt::TextWordWrap | Qt::AlignCenter, text);
  return needed.height() <= room.height() && needed.width() <= room.width();
}

// Run at scales 1, 1.5 and 2 (QT_SCALE_FACTOR). Above 1 the faces must be outline ones:
// a face of bitmap strikes is drawn at its small size with its letters spread apart.
TEST(WindowHelps, EveryCaptionFitsItsControl) {
  bool scaled = qApp->devicePixelRatio() > 1.0;
  TWindowRig rig;
  TAbout about(rig.Main.get());
  about.LabApp->setText(TApplication::Instance()->Title());
  TMain& m = *rig.Main;
  for (QWidget* control : std::initializer_list<QWidget*>{
           m.Label1, m.ButGetScreen, m.ButSaveAs, m.ButAbout, m.ButExit, about.LabApp, about.Label2,
           about.Label3, about.Label1, about.FooterBtn1}) {
    QString text = control->property("text").toString();
    QString face = QFontInfo(control->font()).family();
    EXPECT_TRUE(CaptionFits(control, text)) << text.toStdString() << " in " << face.toStdString();
    if (scaled) {
      EXPECT_TRUE(QFontDatabase::isSmoothlyScalable(face))
          << text.toStdString() << " in " << face.toStdString();
    }
  }
}

TEST(WindowHelps, PortEntriesTellWhatTheyAreAndOpenWideEnough) {
  TWindowRig rig;
  EXPECT_EQ(rig.Main->cbPorts->toolTip(), "virtual port") << "the first port chosen is described";
  std::filesystem::create_directories(rig.Ports.Root / "class/ttyS0/device");
  testing::WriteBytes((rig.Ports.Root / "class/ttyS0/type").string(), "4\n");
  rig.Ports.Add("korbenit-demo");
  rig.Main->cbPortsDropDown();
  QComboBox* list = rig.Main->cbPorts;
  int demo = list->findText("korbenit-demo");
  ASSERT_GE(demo, 0);
  EXPECT_EQ(list->itemData(demo, Qt::ToolTipRole).toString(), "virtual port");
  EXPECT_GE(list->view()->minimumWidth(), list->fontMetrics().horizontalAdvance("korbenit-demo"));
  list->setCurrentIndex(demo);
  EXPECT_EQ(list->toolTip(), "virtual port");
  EXPECT_EQ(list->itemData(list->findText("ttyS0"), Qt::ToolTipRole).toString(),
            "serial port on the main board");
}

void PressKeys(QWidget& window, QKeySequence keys) {
  QApplication::setActiveWindow(&window);
  QTest::keySequence(&window, keys);
}

// F5, Ctrl+S, Ctrl+C and the picture's menu work exactly when their buttons do.
TEST(WindowHelps, ShortcutsAndThePictureMenuFollowTheirButtons) {
  TWindowRig rig;
  TMain& m = *rig.Main;
  QGuiApplication::clipboard()->setText("before");
  PressKeys(m, QKeySequence::Copy);
  EXPECT_EQ(QGuiApplication::clipboard()->text(), "before") << "nothing to copy yet";
  auto before = m.PictureMenu();
  // Copy and Save as... wait for a picture; the live view needs none.
  for (QAction* action : before->actions())
    EXPECT_EQ(action->isEnabled(), action->text() == "Live view") << action->text().toStdString();

  PressKeys(m, Qt::Key_F5);
  ASSERT_TRUE(m.ButSaveAs->isEnabled()) << "F5 captured";
  PressKeys(m, QKeySequence::Copy);
  QImage copied = QGuiApplication::clipboard()->image();
  EXPECT_EQ(copied.convertToFormat(QImage::Format_RGB32), m.Screen->Picture());
  EXPECT_EQ(m.StatusText(), "Picture copied to the clipboard");
  auto after = m.PictureMenu();
  for (QAction* action : after->actions()) EXPECT_TRUE(action->isEnabled());

  bool dialogOpened = false;
  testing::WhenDialogOpens([&](QFileDialog& dialog) {
    dialogOpened = true;
    dialog.reject();
  });
  PressKeys(m, QKeySequence::Save);
  EXPECT_TRUE(dialogOpened);
}

// Portable where the user may write the executable's folder, installed where not.
TEST(ProgramFolders, AnInstalledProgramKeepsItsFilesWithTheUser) {
  TProgramFolders portable = ProgramFolders("/opt/k", true, "/home/u/.config", "/home/u/Pictures");
  EXPECT_EQ(portable.ExePath, "/opt/k/");
  EXPECT_EQ(portable.BmpPath, "/opt/k/BMP");
  EXPECT_EQ(portable.SettingsFolder, "/opt/k/");
  TProgramFolders installed =
      ProgramFolders("/usr/bin", false, "/home/u/.config", "/home/u/Pictures");
  EXPECT_EQ(installed.ExePath, "/home/u/Pictures/Korbenit/");
  EXPECT_EQ(installed.BmpPath, "/home/u/Pictures/Korbenit");
  EXPECT_EQ(installed.SettingsFolder, "/home/u/.config/korbenit-screenshot/");
  TProgramFolders notOurs =
      ProgramFolders("/usr/bin", false, "/home/u/.config", "/home/u/Pictures", false);
  EXPECT_EQ(notOurs.BmpPath, "/home/u/Pictures");
}

// Folders are judged by their owner, not by what this user may write: root may write
// anything, yet a system folder holds an installed program and another user's link is
// never adopted.
TEST(ProgramFolders, AFoldersOwnerDecidesWhatItIs) {
  testing::TTempFolder folder;
  namespace fs = std::filesystem;
  fs::create_directory(folder / "ours");
  fs::create_directory(folder / "theirs");
  ASSERT_EQ(::chown((folder / "theirs").c_str(), testing::Nobody, testing::Nobody), 0);
  fs::create_directory_symlink(folder / "ours", folder / "our-link");
  fs::create_directory_symlink(folder / "ours", folder / "planted-link");
  ASSERT_EQ(::lchown((folder / "planted-link").c_str(), testing::Nobody, testing::Nobody), 0);
  struct TRow {
    std::string Path;
    bool Portable, Adopted;
  };
  for (const TRow& row :
       {TRow{folder / "ours", true, true}, TRow{folder / "theirs", false, false},
        TRow{folder / "our-link", true, true}, TRow{folder / "planted-link", true, false},
        TRow{folder / "missing", false, true}, TRow{"/usr/bin", false, true}}) {
    EXPECT_EQ(IsPortableCopyFolder(row.Path), row.Portable) << row.Path;
    EXPECT_EQ(IsOwnFolderOrMissing(row.Path), row.Adopted) << row.Path;
  }
}

// A start makes no folder for dragging; it removes those whose program has ended.
TEST(WindowHelps, DragFoldersAreMadeByADragAndLeftOnesRemovedAtStart) {
  namespace fs = std::filesystem;
  fs::path runtime = RuntimeFolder().toStdString();
  pid_t ended = ::fork();
  if (ended == 0) ::_exit(0);
  ::waitpid(ended, nullptr, 0);
  fs::path stale = runtime / ("korbenit-drag-" + std::to_string(ended) + "-abc123");
  fs::path live = runtime / ("korbenit-drag-" + std::to_string(::getppid()) + "-abc123");
  for (const auto& folder : {stale, live}) fs::create_directories(folder);
  testing::WriteBytes((stale / "shot.png").string(), "png");
  auto before = std::distance(fs::directory_iterator(runtime), fs::directory_iterator());
  TWindowRig rig;
  EXPECT_FALSE(fs::exists(stale));
  EXPECT_TRUE(fs::exists(live));
  EXPECT_EQ(std::distance(fs::directory_iterator(runtime), fs::directory_iterator()), before - 1);
  fs::remove_all(live);
}

// XDG folders must be absolute; a relative one is ignored for the default.
TEST(ProgramFolders, RelativeUserFoldersAreIgnored) {
  testing::TTempFolder folder;
  QByteArray saved = qgetenv("XDG_CONFIG_HOME");
  QString home = QDir::homePath();
  qputenv("XDG_CONFIG_HOME", "rel/conf");
  EXPECT_EQ(UserConfigHome(), home + "/.config");
  qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(folder.Path().string()));
  EXPECT_EQ(UserConfigHome(), QString::fromStdString(folder.Path().string()));
  testing::WriteBytes(folder / "user-dirs.dirs", "XDG_PICTURES_DIR=\"rel/pics\"\n");
  EXPECT_EQ(UserPicturesFolder(), home + "/Pictures");
  qputenv("XDG_CONFIG_HOME", saved);
}

}  // namespace
}  // namespace korbenit
