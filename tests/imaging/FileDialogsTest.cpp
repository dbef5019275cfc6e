#include "FileDialogs.h"

#include <gtest/gtest.h>

#include <climits>

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QScreen>
#include <QTimer>
#include <functional>

#include "DialogDriver.h"
#include "QtPrinters.h"
#include "TempFolder.h"

namespace korbenit {
namespace {

const QString SaveFilter = "Bitmap (*.bmp)|*.bmp|JPEG (*.jpg)|*.jpg";

TEST(FilterExtension, FollowsTheFilterIndex) {
  TESaveDialog dialog;
  dialog.Filter = SaveFilter;
  struct Case {
    int index;
    const char* extension;
  };
  for (auto c : {Case{-1, ".bmp"}, Case{0, ".bmp"}, Case{1, ".bmp"}, Case{2, ".jpg"},
                 Case{3, ".jpg"}, Case{9, ".jpg"}, Case{INT_MAX, ".jpg"}, Case{INT_MIN, ".bmp"}}) {
    dialog.SetFilterIndex(c.index);
    EXPECT_EQ(dialog.FilterExtension(), c.extension) << c.index;
  }
}

TEST(FilterExtension, GivesNothingForPatternsItCannotUse) {
  struct Case {
    const char *filter, *defaultExt, *extension;
  };
  for (auto c : {Case{"Text|*.text", "", ""}, Case{"Text|*.text", "txt", ".txt"},
                 Case{"Images|*.bmp;*.dib", "", ""}, Case{"All|*.*", "", ""},
                 Case{"Odd|*.a?c", "", ""}, Case{"", "", ""}, Case{"", "dat", ".dat"},
                 Case{"Plain|*.md", "", ".md"},
                 // Without a "|" the whole text is the pattern, cut down to its last letter.
                 Case{"No pattern", "", "n"}}) {
    TEOpenDialog dialog;
    dialog.Filter = c.filter;
    dialog.DefaultExt = c.defaultExt;
    EXPECT_EQ(dialog.FilterExtension(), c.extension) << c.filter;
  }
}

TEST(ReplaceExtension, OnlyTheLastComponentHasOne) {
  struct Case {
    const char *name, *extension, *result;
  };
  for (auto c : {Case{"report.final", ".bmp", "report.bmp"}, Case{"name", ".bmp", "name.bmp"},
                 Case{"a.jpg", "", "a"}, Case{"/home/u.v/name", ".jpg", "/home/u.v/name.jpg"},
                 Case{"dir.x/file.tar.gz", ".bmp", "dir.x/file.tar.bmp"},
                 Case{"Korbenit_20240131_154502.jpg", ".bmp", "Korbenit_20240131_154502.bmp"}})
    EXPECT_EQ(ReplaceExtension(c.name, c.extension), c.result) << c.name;
}

TEST(InitialDir, DropsATrailingSeparatorButNotFromARoot) {
  struct Case {
    const char *set, *stored;
  };
  TESaveDialog dialog;
  for (auto c : {Case{"/home/user/", "/home/user"}, Case{"/", "/"}, Case{"C:\\", "C:\\"},
                 Case{"C:\\pictures\\", "C:\\pictures"}, Case{"", ""}, Case{"/tmp", "/tmp"}}) {
    dialog.SetInitialDir(c.set);
    EXPECT_EQ(dialog.InitialDir(), c.stored) << c.set;
  }
}

TEST(Dialogs, DefaultsAndTheClosedDialog) {
  TEOpenDialog open;
  TESaveDialog save;
  EXPECT_FALSE(open.AutoExtention);
  EXPECT_TRUE(save.AutoExtention);
  EXPECT_EQ(save.FilterIndex(), 1);
  EXPECT_EQ(save.Options, (TOpenOptions{TOpenOption::ofHideReadOnly, TOpenOption::ofEnableSizing}));
  EXPECT_EQ(save.CurrentFolder(), "");
  save.SetFileName("Korbenit_1.bmp");
  EXPECT_EQ(save.FileName(), "Korbenit_1.bmp");
}

// Runs a prompt while a driver acts on the open dialog.
struct TDriven {
  TESaveDialog Dialog;
  testing::TTempFolder Folder;
  TDriven() {
    Dialog.Filter = SaveFilter;
    Dialog.Title = "Save as...";
    Dialog.SetInitialDir(QString::fromStdString(Folder.Path().string()));
  }
  bool Prompt(std::function<void(QFileDialog&)> drive) {
    testing::WhenDialogOpens(std::move(drive));
    return Dialog.Prompt();
  }
  static QLineEdit* Box(QFileDialog& dialog) { return testing::FileNameBox(dialog); }
  static void Choose(QFileDialog& dialog, int index) { testing::ChooseType(dialog, index); }
};

TEST(SaveDialog, ATypeChangeRenamesTheBoxAndCancelKeepsIt) {
  TDriven d;
  d.Dialog.SetFilterIndex(2);
  d.Dialog.SetFileName("Korbenit_20240131_154502.jpg");
  QString shownTitle, shownFilter, boxAfter;
  int indexWhileOpen = 0;
  bool confirmed = d.Prompt([&](QFileDialog& dialog) {
    shownTitle = dialog.windowTitle();
    shownFilter = dialog.selectedNameFilter();
    TDriven::Choose(dialog, 1);
    boxAfter = TDriven::Box(dialog)->text();
    indexWhileOpen = d.Dialog.FilterIndex();
    dialog.reject();
  });
  EXPECT_FALSE(confirmed);
  EXPECT_EQ(shownTitle, "Save as...");
  EXPECT_EQ(shownFilter, "JPEG (*.jpg)");
  EXPECT_EQ(boxAfter, "Korbenit_20240131_154502.bmp");
  EXPECT_EQ(indexWhileOpen, 1);
  EXPECT_EQ(d.Dialog.FilterIndex(), 2);
  EXPECT_EQ(d.Dialog.FileName(), "Korbenit_20240131_154502.bmp");
}

TEST(SaveDialog, OpensCentredAThirdDownTheScreen) {
  TDriven d;
  QRect frame, area;
  d.Prompt([&](QFileDialog& dialog) {
    frame = dialog.frameGeometry();
    area = dialog.screen()->availableGeometry();
    dialog.reject();
  });
  EXPECT_NEAR(frame.center().x(), area.center().x(), 1);
  EXPECT_NEAR(frame.top() - area.top(), (area.height() - frame.height()) / 3, 1);
}

TEST(SaveDialog, AFullPathOutsideTheFolderKeepsItsFolder) {
  TDriven d;
  d.Dialog.SetFileName("x.bmp");
  QString boxAfter;
  d.Prompt([&](QFileDialog& dialog) {
    TDriven::Box(dialog)->setText("/elsewhere/dir.v2/pic.bmp");
    TDriven::Choose(dialog, 2);
    boxAfter = TDriven::Box(dialog)->text();
    dialog.reject();
  });
  EXPECT_EQ(boxAfter, "/elsewhere/dir.v2/pic.jpg");
}

TEST(SaveDialog, AnEmptyBoxStaysEmptyAndTheSameTypeChangesNothing) {
  TDriven d;
  d.Dialog.SetFileName("pic.bmp");
  int typeChanges = 0;
  d.Dialog.OnTypeChange = [&](TEOpenDialog&) { ++typeChanges; };
  QString sameType, emptied;
  d.Prompt([&](QFileDialog& dialog) {
    TDriven::Box(dialog)->setText("renamed.tif");
    TDriven::Choose(dialog, 1);  // already the current type
    sameType = TDriven::Box(dialog)->text();
    TDriven::Box(dialog)->clear();
    TDriven::Choose(dialog, 2);
    emptied = TDriven::Box(dialog)->text();
    dialog.reject();
  });
  EXPECT_EQ(sameType, "renamed.tif");
  EXPECT_EQ(emptied, "");
  EXPECT_EQ(typeChanges, 1);
}

TEST(SaveDialog, ConfirmationGivesTheFullPathAndTheChosenType) {
  TDriven d;
  d.Dialog.SetFileName("Korbenit_1.bmp");
  bool confirmed = d.Prompt([&](QFileDialog& dialog) {
    TDriven::Choose(dialog, 2);
    testing::Confirm(dialog);
  });
  ASSERT_TRUE(confirmed);
  EXPECT_EQ(d.Dialog.FilterIndex(), 2);
  EXPECT_EQ(d.Dialog.FileName(), QString::fromStdString(d.Folder / "Korbenit_1.jpg"));
}

TEST(SaveDialog, ANameInTheRootFolderKeepsItsFirstLetter) {
  TDriven d;
  d.Dialog.SetInitialDir("/");
  d.Dialog.SetFileName("name.bmp");
  QString boxAfter;
  d.Prompt([&](QFileDialog& dialog) {
    TDriven::Choose(dialog, 2);
    boxAfter = TDriven::Box(dialog)->text();
    dialog.reject();
  });
  EXPECT_EQ(boxAfter, "name.jpg");
}

TEST(OpenDialog, PromptAppliesTheExtensionFirstAndReportsTypeChanges) {
  TEOpenDialog dialog;
  dialog.Filter = SaveFilter;
  dialog.SetFilterIndex(2);
  dialog.SetFileName("picture.bmp");
  int typeChanges = 0;
  dialog.OnTypeChange = [&](TEOpenDialog&) { ++typeChanges; };
  QTimer::singleShot(0, [] { QApplication::activeModalWidget()->close(); });
  EXPECT_FALSE(dialog.Prompt());
  EXPECT_EQ(typeChanges, 1) << "called although AutoExtention is off";
  EXPECT_EQ(dialog.FileName(), "picture.bmp");
  dialog.AutoExtention = true;
  QTimer::singleShot(0, [] { QApplication::activeModalWidget()->close(); });
  dialog.Prompt();
  EXPECT_EQ(dialog.FileName(), "picture.jpg");
}

}  // namespace
}  // namespace korbenit

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
