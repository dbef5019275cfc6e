#include <gtest/gtest.h>

#include <sys/stat.h>
#include <QCoreApplication>
#include <QTimer>
#include <filesystem>

#include "Application.h"
#include "DialogDriver.h"
#include "FailureHints.h"
#include "ModelPort.h"
#include "QtPrinters.h"
#include "TempFolder.h"
#include "WindowRig.h"

namespace korbenit {
namespace {

using testing::ReadBytes;

TEST(MainSettings, StoredChoicesAreReadAtStart) {
  TWindowRig rig("[CONFIG]\r\nCOMPORT=TTYKORB0\r\nFILEFORMAT=2\r\nFILEDIR=/srv/pictures/\r\n");
  EXPECT_EQ(rig.Main->cbPorts->currentText(), "ttyKORB0");
  EXPECT_EQ(rig.Main->SaveDlg.FilterIndex(), 2);
  EXPECT_EQ(rig.Main->SaveDlg.InitialDir(), "/srv/pictures");
}

TEST(MainSettings, DefaultsWithoutAFileAndNoFileMadeByReading) {
  TWindowRig rig;
  EXPECT_EQ(rig.Main->SaveDlg.FilterIndex(), 1);
  QString exeFolder = QCoreApplication::applicationDirPath();
  EXPECT_EQ(rig.Main->SaveDlg.InitialDir(), exeFolder);
  EXPECT_FALSE(std::filesystem::exists(rig.SettingsFile));
}

// The placement is written on both ways out, CONFIG only through the close box; on a
// first run the placement's section comes first.
TEST(MainSettings, TheCloseBoxWritesThemAndExitOnlyThePlacement) {
  const std::string placement = "[Main]\r\nFormVersion=0\r\nShowCmd=1\r\nFlags=0\r\n";
  struct Case {
    const char* name;
    const char* before;
    bool exit;
    std::string start;
  };
  for (const auto& c : {Case{"EXIT", "[CONFIG]\r\nFILEFORMAT=2\r\n", true,
                             "[CONFIG]\r\nFILEFORMAT=2\r\n\r\n" + placement},
                        Case{"close box", "[CONFIG]\r\nFILEFORMAT=2\r\n", false,
                             "[CONFIG]\r\nFILEFORMAT=2\r\nCOMPORT=ttyKORB0\r\n\r\n" + placement},
                        Case{"first run", nullptr, false, placement}}) {
    SCOPED_TRACE(c.name);
    TWindowRig rig(c.before);
    if (c.exit) {
      QTimer::singleShot(0, rig.Main->ButExit, &QPushButton::click);
      QCoreApplication::exec();
    } else {
      rig.Main->close();
    }
    rig.Main.reset();
    std::string bytes = ReadBytes(rig.SettingsFile);
    EXPECT_EQ(bytes.substr(0, c.start.size()), c.start);
    EXPECT_EQ(bytes.find("COMPORT") == std::string::npos, c.exit);
    EXPECT_NE(bytes.find("\r\nNormPos="), std::string::npos);
  }
}

// Hand-edited values: a number that is none gets the error box and its default, and
// the rest of the start goes on (the port list filled, the stored port chosen); a file
// type out of range counts as BMP; a folder that is a file gives the default folder.
TEST(MainSettings, AStoredValueThatCannotBeUsedGivesWayToItsDefault) {
  struct TRow {
    std::string Config;
    std::vector<QString> Shown;
    int FilterIndex;
    bool DefaultFolder;
  };
  QString noNumber = "'2x' ist kein gültiger Integerwert.";
  for (const TRow& row :
       {TRow{"FILEFORMAT=2x\r\n", {noNumber}, 1, true}, TRow{"FILEFORMAT=7\r\n", {}, 1, true},
        TRow{"FILEFORMAT=0\r\n", {}, 1, true}, TRow{"FILEDIR=/etc/hostname\r\n", {}, 1, true},
        TRow{"FILEFORMAT=2\r\nFILEDIR=/tmp/\r\n", {}, 2, false}}) {
    SCOPED_TRACE(row.Config);
    std::vector<QString> shown;
    TApplication::Instance()->SetErrorPresenter(
        [&](const QString&, const QString& text) { shown.push_back(text); });
    TWindowRig rig(("[CONFIG]\r\nCOMPORT=TTYKORB0\r\n" + row.Config).c_str());
    EXPECT_EQ(shown, row.Shown);
    EXPECT_TRUE(rig.Main->isVisible());
    EXPECT_EQ(rig.Main->cbPorts->currentText(), "ttyKORB0");
    EXPECT_EQ(rig.Main->SaveDlg.FilterIndex(), row.FilterIndex);
    EXPECT_EQ(rig.Main->SaveDlg.InitialDir() == QCoreApplication::applicationDirPath(),
              row.DefaultFolder);
    rig.Main->close();
    EXPECT_NE(ReadBytes(rig.SettingsFile).find("COMPORT=ttyKORB0"), std::string::npos);
    TApplication::Instance()->SetErrorPresenter(nullptr);
  }
}

// A stored placement number that is none: the error box, and the window shows with its
// port list.
TEST(MainSettings, APlacementNumberThatIsNoneReachesTheErrorHandler) {
  std::vector<QString> shown;
  TApplication::Instance()->SetErrorPresenter(
      [&](const QString&, const QString& text) { shown.push_back(text); });
  TWindowRig rig("[Main]\r\nShowCmd=abc\r\n");
  EXPECT_EQ(shown, std::vector<QString>{"'abc' ist kein gültiger Integerwert."});
  EXPECT_FALSE(rig.Main->ButSaveAs->isEnabled());
  EXPECT_TRUE(rig.Main->isVisible());
  EXPECT_EQ(rig.Main->cbPorts->count(), 1);
  TApplication::Instance()->SetErrorPresenter(nullptr);
}

// With no port present the stored one is kept for when the device is back.
TEST(MainSettings, AStoredPortThatIsNotPresentIsKept) {
  TWindowRig rig("[CONFIG]\r\nCOMPORT=ttyGONE7\r\n", false);
  std::filesystem::remove_all(rig.Ports.Root / "virtual");
  rig.Main->show();
  EXPECT_EQ(rig.Main->cbPorts->count(), 0);
  rig.Main->close();
  EXPECT_NE(ReadBytes(rig.SettingsFile).find("COMPORT=ttyGONE7\r\n"), std::string::npos);
}

// Start and close with a settings file that cannot be read (a pipe): one error box, the
// window goes on and its close box closes it, leaving the file alone. A folder of that
// name is no settings file at all: no box.
TEST(MainSettings, AnUnreadableSettingsFileIsReportedOnceAndTheWindowGoesOn) {
  for (bool pipe : {true, false}) {
    SCOPED_TRACE(pipe ? "pipe" : "folder");
    std::vector<QString> shown;
    TApplication::Instance()->SetErrorPresenter([&](const QString& caption, const QString& text) {
      shown.push_back(caption + ": " + text);
    });
    testing::TTempFolder folder;
    std::string settings = folder / "Vantor_Screenshot.ini";
    if (pipe)
      ASSERT_EQ(::mkfifo(settings.c_str(), 0600), 0);
    else
      std::filesystem::create_directory(settings);
    std::unique_ptr<TMain> main;
    ASSERT_NO_THROW(main = std::make_unique<TMain>(std::make_unique<TModelPort>(),
                                                   QString::fromStdString(folder.Path().string())));
    main->show();
    EXPECT_TRUE(main->isVisible());
    EXPECT_EQ(main->windowTitle(), "Korbenit - Screenshot v1.0");
    QString expected = "Korbenit - Screenshot v1.0: Datei " + QString::fromStdString(settings) +
                       " kann nicht geöffnet werden.";
    EXPECT_EQ(shown, pipe ? std::vector<QString>{expected} : std::vector<QString>{});
    shown.clear();
    EXPECT_TRUE(main->close());
    EXPECT_TRUE(shown.empty());
    main.reset();
    EXPECT_EQ(std::filesystem::is_fifo(settings), pipe);
    EXPECT_EQ(std::filesystem::is_directory(settings), !pipe);
    TApplication::Instance()->SetErrorPresenter(nullptr);
  }
}

struct TSaveRig : TWindowRig {
  testing::TTempFolder Pictures;
  explicit TSaveRig(const char* settings = nullptr) : TWindowRig(settings) {
    Main->SaveDlg.SetInitialDir(QString::fromStdString(Pictures.Path().string()));
    Main->ButGetScreen->click();
  }
};

TEST(SaveAs, ProposesATimeStampedNameAndWritesTheChosenType) {
  TSaveRig rig;
  ASSERT_TRUE(rig.Main->ButSaveAs->isEnabled());
  QString proposed;
  testing::WhenDialogOpens([&](QFileDialog& dialog) {
    proposed = testing::FileNameBox(dialog)->text();
    testing::ChooseType(dialog, 2);
    testing::Confirm(dialog);
  });
  rig.Main->ButSaveAs->click();
  ASSERT_EQ(proposed.size(), QString("Korbenit_20240131_154502.bmp").size());
  EXPECT_TRUE(proposed.startsWith("Korbenit_2"));
  EXPECT_TRUE(proposed.endsWith(".bmp"));
  QString saved = proposed.left(proposed.size() - 4) + ".jpg";
  EXPECT_EQ(rig.Main->sBar->currentMessage(), "Saved as: " + saved);
  std::string bytes = ReadBytes(rig.Pictures / saved.toStdString());
  EXPECT_EQ(bytes.substr(0, 2), "\xFF\xD8");
  EXPECT_TRUE(rig.Main->ButSaveAs->isEnabled()) << "the same picture can be saved again";
  rig.Main->close();
  std::string settings = ReadBytes(rig.SettingsFile);
  EXPECT_NE(settings.find("FILEFORMAT=2\r\n"), std::string::npos);
  EXPECT_NE(settings.find("FILEDIR=" + rig.Pictures.Path().string() + "/\r\n"), std::string::npos);
}

TEST(SaveAs, TheTypeDecidesTheFormatNotTheName) {
  TSaveRig rig;
  testing::WhenDialogOpens([&](QFileDialog& dialog) {
    testing::FileNameBox(dialog)->setText("screen.jpg");
    testing::Confirm(dialog);
  });
  rig.Main->ButSaveAs->click();
  EXPECT_EQ(rig.Main->sBar->currentMessage(), "Saved as: screen.jpg");
  std::string bytes = ReadBytes(rig.Pictures / "screen.jpg");
  ASSERT_EQ(bytes.size(), 307254u);
  EXPECT_EQ(bytes.substr(0, 2), "BM");
}

TEST(SaveAs, AFailedSaveShowsItsMessageInTheStatusLine) {
  TSaveRig rig;
  std::string target = rig.Pictures / "missing/screen.bmp";
  testing::WhenDialogOpens([&](QFileDialog& dialog) {
    testing::FileNameBox(dialog)->setText(QString::fromStdString(target));
    testing::Confirm(dialog);
  });
  rig.Main->ButSaveAs->click();
  std::string message = "Datei " + target + " kann nicht erstellt werden";
  EXPECT_EQ(rig.Main->StatusText().toStdString(), message);
  // Too long for the line: shortened in the middle, whole in the tooltip with a hint.
  QString shown = rig.Main->sBar->currentMessage();
  EXPECT_TRUE(shown.startsWith("Datei /") && shown.endsWith("kann nicht erstellt werden") &&
              shown.contains(QChar(0x2026)))
      << shown.toStdString();
  EXPECT_LE(rig.Main->sBar->fontMetrics().horizontalAdvance(shown), rig.Main->sBar->width());
  EXPECT_EQ(rig.Main->sBar->toolTip().toStdString(),
            message + "\n" + FailureHint(TFailureKind::CannotCreate));
  EXPECT_TRUE(rig.Main->isVisible());
}

TEST(SaveAs, CancelStoresAnEmptyFolder) {
  TSaveRig rig;
  testing::WhenDialogOpens([](QFileDialog& dialog) { dialog.reject(); });
  rig.Main->ButSaveAs->click();
  EXPECT_TRUE(rig.Main->sBar->currentMessage().isEmpty());
  rig.Main->close();
  EXPECT_NE(ReadBytes(rig.SettingsFile).find("FILEDIR=\r\n"), std::string::npos);
}

}  // namespace
}  // namespace korbenit
