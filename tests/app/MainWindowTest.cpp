#include "uMain.h"

#include <gtest/gtest.h>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <clocale>
#include <filesystem>
#include <unistd.h>

#include "Application.h"
#include "ModelPort.h"
#include "WindowRig.h"
#include "Pty.h"
#include "SerialPort.h"
#include "QtPrinters.h"

namespace korbenit {
namespace {

using testing::TModelPort;
using K = TDeviceFault::TKind;

TEST(MainWindow, ControlsSitWhereTheLayoutPutsThem) {
  TWindowRig rig;
  TMain& m = *rig.Main;
  struct Case {
    QWidget* control;
    QRect geometry;
  };
  for (const auto& c : {Case{m.Panel1, {24, 8, 248, 328}}, Case{m.Screen, {4, 4, 240, 320}},
                        Case{m.ButGetScreen, {24, 344, 97, 25}},
                        Case{m.ButSaveAs, {175, 344, 97, 25}}, Case{m.Footer1, {0, 377, 299, 37}},
                        Case{m.Label1, {10, 13, 51, 13}}, Case{m.cbPorts, {64, 9, 81, 21}},
                        Case{m.LedPanel, {152, 11, 17, 17}}, Case{m.ButAbout, {192, 9, 33, 23}},
                        Case{m.ButExit, {232, 9, 59, 23}}, Case{m.sBar, {0, 414, 299, 19}}}) {
    SCOPED_TRACE(c.control->metaObject()->className());
    EXPECT_EQ(c.control->geometry(), c.geometry);
  }
  EXPECT_EQ(m.Screen->parentWidget(), m.Panel1);
  EXPECT_EQ(m.cbPorts->parentWidget(), m.Footer1);
  EXPECT_EQ(m.ButGetScreen->text(), "GET SCREEN");
  EXPECT_EQ(m.ButSaveAs->text(), "SAVE AS...");
  EXPECT_EQ(m.ButAbout->text(), "?");
  EXPECT_EQ(m.ButExit->text(), "EXIT");
  EXPECT_EQ(m.Label1->text(), "COM-Port:");
  EXPECT_FALSE(m.cbPorts->isEditable());
}

TEST(MainWindow, FixedClientAreaWithMinimizeButNoMaximize) {
  TWindowRig rig;
  TMain& m = *rig.Main;
  EXPECT_EQ(m.size(), QSize(299, 433));
  EXPECT_EQ(m.minimumSize(), m.maximumSize());
  EXPECT_TRUE(m.windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(m.windowFlags() & Qt::WindowMaximizeButtonHint);
}

TEST(MainWindow, StartsWithSaveAsDisabledLampBlackAndNoPicture) {
  TWindowRig rig;
  EXPECT_FALSE(rig.Main->ButSaveAs->isEnabled());
  EXPECT_EQ(rig.Main->LampColor(), QColor(0, 0, 0));
  EXPECT_TRUE(rig.Main->Screen->Picture().isNull());
  EXPECT_TRUE(rig.Main->sBar->currentMessage().isEmpty());
}

TEST(MainWindow, TitleAndPathsFollowTheExecutable) {
  TWindowRig rig;
  QString exePath = QCoreApplication::applicationDirPath() + '/';
  EXPECT_EQ(rig.Main->windowTitle(), "Korbenit - Screenshot v1.0");
  EXPECT_EQ(rig.Main->AppVersion, 10);
  EXPECT_EQ(rig.Main->ExePath, exePath);
  EXPECT_EQ(rig.Main->BmpPath, exePath + "BMP");
  EXPECT_EQ(TApplication::Instance()->Title(), "Korbenit - Screenshot v1.0");
  EXPECT_TRUE(std::filesystem::is_directory(rig.Main->BmpPath.toStdString()));
}

TEST(MainWindow, TitleKeepsItsPointUnderACommaLocale) {
  const char* commaLocales[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "ru_RU.UTF-8"};
  bool found = false;
  for (const char* name : commaLocales)
    if (std::setlocale(LC_NUMERIC, name)) {
      found = true;
      break;
    }
  if (!found) GTEST_SKIP() << "no locale with a decimal comma is installed";
  ASSERT_STREQ(std::localeconv()->decimal_point, ",");
  TWindowRig rig;
  EXPECT_EQ(rig.Main->windowTitle(), "Korbenit - Screenshot v1.0");
  EXPECT_EQ(FormatVersion(10), "1.0");
  std::setlocale(LC_NUMERIC, "C");
}

TEST(MainWindow, GetScreenPaintsTheDevicePictureAndEnablesSaveAs) {
  TWindowRig rig;
  rig.Main->ButGetScreen->click();
  EXPECT_TRUE(rig.Main->ButSaveAs->isEnabled());
  EXPECT_TRUE(rig.Main->ButGetScreen->isEnabled());
  EXPECT_TRUE(rig.Main->sBar->currentMessage().isEmpty());
  EXPECT_EQ(rig.Main->LampColor(), QColor(0, 0, 0));
  const QImage& picture = rig.Main->Screen->Picture();
  ASSERT_EQ(picture.size(), QSize(240, 320));
  EXPECT_EQ(picture.format(), QImage::Format_RGB32);
  for (int y = 0; y < 320; ++y)
    for (int x = 0; x < 240; ++x) {
      TColor expected = ConvertPixel(rig.Port->Model.Pixel(x, y));
      ASSERT_EQ(rig.PixelAt(x, y), QColor(RedOf(expected), GreenOf(expected), BlueOf(expected)))
          << x << "," << y;
    }
}

TEST(MainWindow, AFailedTransferShowsItsMessageAndKeepsSaveAsDisabled) {
  TWindowRig rig;
  rig.Main->ButGetScreen->click();
  ASSERT_TRUE(rig.Main->ButSaveAs->isEnabled());
  rig.Port->Model.AddFault({K::Silence, 'S', 5, 0});
  rig.Main->ButGetScreen->click();
  EXPECT_EQ(rig.Main->sBar->currentMessage(), "S: No Data");
  EXPECT_FALSE(rig.Main->ButSaveAs->isEnabled());
  EXPECT_EQ(rig.Main->LampColor(), QColor(0, 0, 0));
  EXPECT_FALSE(rig.Port->Connected());
  TColor first = ConvertPixel(rig.Port->Model.Pixel(0, 4));
  EXPECT_EQ(rig.PixelAt(0, 4), QColor(RedOf(first), GreenOf(first), BlueOf(first)));
  EXPECT_EQ(rig.PixelAt(0, 5), QColor(0, 0, 0));
}

TEST(MainWindow, LampIsRedExactlyWhileThePortIsOpen) {
  TWindowRig rig;
  std::vector<std::pair<bool, QColor>> seen;
  // Watch the lamp at every line: the port is open throughout.
  rig.Port->Model.AddFault({K::Silence, 'S', 3, 0});
  rig.Port->OnAfterOpen = [&, previous = rig.Port->OnAfterOpen](TSerialPortInterface& port) {
    previous(port);
    seen.emplace_back(port.Connected(), rig.Main->LampColor());
  };
  rig.Main->ButGetScreen->click();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], std::make_pair(true, QColor(255, 0, 0)));
  EXPECT_EQ(rig.Main->LampColor(), QColor(0, 0, 0));
}

TEST(MainWindow, GetScreenIsDisabledWhileATransferRuns) {
  TWindowRig rig;
  bool enabledDuringTransfer = true;
  rig.Port->OnAfterOpen = [&](TSerialPortInterface&) {
    enabledDuringTransfer = rig.Main->ButGetScreen->isEnabled();
    rig.Main->ButGetScreenClick();  // a re-entrant click is ignored
  };
  rig.Main->ButGetScreen->click();
  EXPECT_FALSE(enabledDuringTransfer);
  EXPECT_EQ(rig.Port->Model.Commands().size(), 322u);
  EXPECT_TRUE(rig.Main->ButSaveAs->isEnabled());
}

TEST(MainWindow, ExitEndsTheLoopWithoutAClose) {
  TWindowRig rig;
  TCloseCounter counter;
  rig.Main->installEventFilter(&counter);
  QTimer::singleShot(0, rig.Main->ButExit, &QPushButton::click);
  EXPECT_EQ(QCoreApplication::exec(), 0);
  EXPECT_EQ(counter.Closes, 0);
  EXPECT_TRUE(rig.Main->isVisible());
}

TEST(MainWindow, TheCloseBoxClosesTheWindow) {
  TWindowRig rig;
  TCloseCounter counter;
  rig.Main->installEventFilter(&counter);
  EXPECT_TRUE(rig.Main->close());
  EXPECT_EQ(counter.Closes, 1);
  EXPECT_FALSE(rig.Main->isVisible());
}

TEST(MainWindow, ExitDuringATransferStillRestoresAndClosesThePort) {
  TWindowRig rig;
  rig.Port->OnAfterOpen = [&](TSerialPortInterface&) {
    // Pressed while the first lines come in.
    QTimer::singleShot(0, rig.Main->ButExit, &QPushButton::click);
  };
  QTimer::singleShot(0, rig.Main->ButGetScreen, &QPushButton::click);
  EXPECT_EQ(QCoreApplication::exec(), 0);
  EXPECT_FALSE(rig.Port->Connected());
  EXPECT_EQ(rig.Port->CustomBaudRate(), 9600);
  EXPECT_LT(rig.Port->Model.Commands().size(), 322u);
  EXPECT_FALSE(rig.Main->ButSaveAs->isEnabled());
}

TEST(MainWindow, TheCloseBoxDuringATransferStillClosesThePort) {
  TWindowRig rig;
  rig.Port->OnAfterOpen = [&](TSerialPortInterface&) {
    QTimer::singleShot(0, rig.Main.get(), &QWidget::close);
  };
  rig.Main->ButGetScreen->click();
  EXPECT_FALSE(rig.Port->Connected());
  EXPECT_EQ(rig.Port->CustomBaudRate(), 9600);
  EXPECT_LT(rig.Port->Model.Commands().size(), 322u);
}

TEST(PortList, FilledAtStartInNaturalOrderAndKeptOnRefresh) {
  TWindowRig rig;
  EXPECT_EQ(rig.Main->cbPorts->count(), 1);
  EXPECT_EQ(rig.Main->cbPorts->currentText(), "ttyKORB0");
  for (const char* name : {"sim10", "sim2", "Sim1"}) rig.Ports.Add(name);
  rig.Main->cbPorts->setCurrentIndex(0);
  rig.Main->RefreshPortList("SIM2");
  QStringList items;
  for (int i = 0; i < rig.Main->cbPorts->count(); ++i) items << rig.Main->cbPorts->itemText(i);
  EXPECT_EQ(items, QStringList({"Sim1", "sim2", "sim10", "ttyKORB0"}));
  EXPECT_EQ(rig.Main->cbPorts->currentText(), "sim2");
  rig.Main->cbPortsDropDown();
  EXPECT_EQ(rig.Main->cbPorts->currentText(), "sim2");
  rig.Main->RefreshPortList("gone");
  EXPECT_EQ(rig.Main->cbPorts->currentIndex(), 0);
}

TEST(PortList, AFailedEnumerationReachesTheErrorHandlerAndKeepsTheList) {
  TWindowRig rig;
  std::vector<QString> shown;
  auto* app = TApplication::Instance();
  app->SetErrorPresenter([&](const QString&, const QString& text) { shown.push_back(text); });
  rig.Main->PortSources.DeviceClassFolder = "/nonexistent-korbenit-tty";
  rig.Main->cbPorts->showPopup();
  rig.Main->cbPorts->hidePopup();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0], "Registry error (win error code: 2)");
  EXPECT_EQ(rig.Main->cbPorts->currentText(), "ttyKORB0");
  app->SetErrorPresenter(nullptr);
}

TEST(SerialEvents, DeliveriesAreServedByTheMessageLoop) {
  testing::TPty pty;
  TSerialPort port;
  port.SetPort(pty.SlavePath());
  int32_t counted = 0;
  port.OnRxChar = [&](auto&, int32_t count) { counted = count; };
  port.Open();
  pty.Send("abc");
  QElapsedTimer timer;
  timer.start();
  while (counted < 3 && timer.elapsed() < 3000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  EXPECT_EQ(counted, 3);
  port.Close();
}

TEST(ErrorHandler, ShowsTheMessageWithTheTitleAndAClosingPoint) {
  TWindowRig rig;
  std::vector<std::pair<QString, QString>> shown;
  auto* app = TApplication::Instance();
  app->SetErrorPresenter([&](const QString& caption, const QString& text) {
    shown.emplace_back(caption, text);
  });
  struct Case {
    const char* thrown;
    const char* displayed;
  };
  for (const auto& c : {Case{"Registry error (win error code: 2)", "Registry error (win error code: 2)"},
                        Case{"B: No Data", "B: No Data."}, Case{"done.", "done."},
                        Case{"Stop!", "Stop!"}, Case{"", ""}}) {
    shown.clear();
    QObject::connect(rig.Main->ButAbout, &QPushButton::clicked, rig.Main.get(),
                     [&] { RunHandler([&] { throw std::runtime_error(c.thrown); }); },
                     Qt::SingleShotConnection);
    rig.Main->ButAbout->click();
    ASSERT_EQ(shown.size(), 1u) << c.thrown;
    EXPECT_EQ(shown[0].first, "Korbenit - Screenshot v1.0");
    EXPECT_EQ(shown[0].second, c.displayed);
  }
  EXPECT_TRUE(rig.Main->isVisible());
  app->SetErrorPresenter(nullptr);
}

}  // namespace
}  // namespace korbenit
