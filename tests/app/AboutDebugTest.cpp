#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QGuiApplication>
#include <QTest>
#include <QTimer>
#include <filesystem>

#include "Application.h"
#include "Distribution.h"
#include "Platform.h"
#include "QtPrinters.h"
#include "TempFolder.h"
#include "WindowRig.h"
#include "uAbout.h"
#include "uDebug.h"
#include "uMain.h"

namespace korbenit {
namespace {

namespace fs = std::filesystem;
using testing::ReadBytes;
using testing::TTempFolder;
using testing::WriteBytes;

TEST(About, ControlsSitWhereTheLayoutPutsThem) {
  TAbout about(nullptr);
  struct Case {
    QWidget* control;
    QRect geometry;
  };
  for (const auto& c :
       {Case{about.Panel1, {0, 0, 279, 120}}, Case{about.LabApp, {96, 8, 169, 57}},
        Case{about.Image1, {16, 16, 65, 57}}, Case{about.Label2, {11, 80, 257, 13}},
        Case{about.Label3, {11, 96, 257, 13}}, Case{about.Footer1, {0, 120, 279, 37}},
        Case{about.FooterBtn1, {197, 7, 74, 23}}}) {
    SCOPED_TRACE(c.control->metaObject()->className());
    EXPECT_EQ(c.control->geometry(), c.geometry);
  }
  EXPECT_EQ(about.size(), QSize(279, 157));
  EXPECT_EQ(about.minimumSize(), about.maximumSize());
  EXPECT_EQ(about.windowTitle(), "About");
  EXPECT_TRUE((about.windowFlags() & Qt::WindowType_Mask) == Qt::Tool);
  EXPECT_FALSE(about.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
  EXPECT_EQ(about.Label2->text(), "USB must be activated in Korbenit setup-menu");
  EXPECT_EQ(about.Label3->text(), "Bitte USB im Korbenit Einstellungsmenü aktivieren");
  EXPECT_EQ(about.FooterBtn1->text(), "CLOSE");
  EXPECT_EQ(about.Panel1->palette().color(QPalette::Window), QColor(255, 233, 166));
  EXPECT_EQ(about.LabApp->font().pointSize(), 14);
  EXPECT_TRUE(about.LabApp->font().bold() && about.LabApp->wordWrap());
  EXPECT_EQ(about.Label1->pos(), QPoint(8, 12));
  EXPECT_EQ(about.Label1->Url(), GuideUrl());
  EXPECT_TRUE(about.Label1->font().underline());
  EXPECT_EQ(about.Label1->palette().color(QPalette::WindowText), QColor(0, 0, 128));
  EXPECT_EQ(about.Label1->cursor().shape(), Qt::PointingHandCursor);
  // The logo, stretched, with the colour of its bottom-left pixel left out.
  QPixmap logo = about.Image1->pixmap();
  EXPECT_EQ(logo.size(), QSize(65, 57));
  QImage mask = logo.mask().toImage();
  EXPECT_EQ(mask.pixelColor(0, 56), QColor(Qt::color0)) << "bottom-left is transparent";
  EXPECT_EQ(mask.pixelColor(32, 28), QColor(Qt::color1)) << "the handheld is drawn";
}

// Each showing: the current title, centred on the main window wherever it is; CLOSE
// ends the modal loop with 1.
TEST(About, ShowsTheCurrentTitleCentredOnTheMainWindow) {
  TWindowRig rig;
  TAbout about(rig.Main.get());
  for (auto c : {std::pair{QPoint(40, 30), QString("Title one")},
                 std::pair{QPoint(500, 400), QString("Title two")}}) {
    rig.Main->move(c.first);
    TApplication::Instance()->SetTitle(c.second);
    QString shownTitle;
    QPoint offset;
    QTimer::singleShot(0, &about, [&] {
      shownTitle = about.LabApp->text();
      offset = about.frameGeometry().center() - rig.Main->frameGeometry().center();
      about.FooterBtn1->click();
    });
    EXPECT_EQ(about.exec(), 1);
    EXPECT_EQ(shownTitle, c.second);
    EXPECT_LE(offset.manhattanLength(), 2) << offset.x() << "," << offset.y();
    EXPECT_FALSE(about.isVisible());
  }
  TApplication::Instance()->SetTitle("Korbenit - Screenshot v1.0");
}

// Without an installed guide beside it, the program carries its own and writes it out
// when the link is followed, so the link works wherever the program was copied.
TEST(About, TheGuideIsCarriedByTheProgram) {
  QUrl guide = GuideUrl();
  ASSERT_TRUE(guide.isLocalFile());
  EXPECT_TRUE(guide.toLocalFile().startsWith(RuntimeFolder())) << guide.toString().toStdString();
  fs::remove(guide.toLocalFile().toStdString());
  ProvideGuide();
  EXPECT_EQ(ReadBytes(guide.toLocalFile().toStdString()).rfind("# Korbenit Screenshot\n", 0), 0u);
}

TEST(Debug, KeepsItsLinesInOrderUntilADoubleClick) {
  TDebug debug;
  EXPECT_EQ(debug.windowTitle(), "Debug");
  EXPECT_FALSE(debug.isVisible());
  EXPECT_TRUE(debug.Memo->isReadOnly());
  EXPECT_EQ(debug.Memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(debug.pos(), QPoint(1165, 59));
  debug.show();
  debug.AddLine("first");
  debug.AddLine("second");
  debug.close();
  EXPECT_FALSE(debug.isVisible());
  EXPECT_EQ(debug.Memo->toPlainText(), "first\nsecond") << "closing only hides it";
  debug.show();
  QTest::mouseDClick(debug.Memo->viewport(), Qt::LeftButton);
  EXPECT_EQ(debug.Memo->toPlainText(), "");
}

// A folder standing in for the current one, with the "executable" to copy.
struct TDistributionRig {
  TTempFolder Folder;
  std::string Executable = Folder / "korbenit-screenshot";
  fs::path SavedFolder = fs::current_path();
  TDebug Debug;
  TDistributionRig() {
    WriteBytes(Executable, "the program");
    ::chmod(Executable.c_str(), 0751);
    fs::current_path(Folder.Path());
  }
  ~TDistributionRig() { fs::current_path(SavedFolder); }
  void Run(const QStringList& arguments, bool environmentRuns, int version = 10) {
    RunDistributionMode(arguments, version, Executable, Debug, [=] { return environmentRuns; });
  }
};

TEST(Distribution, OnlyTheRightArgumentWhileTheEnvironmentRunsCopies) {
  struct Case {
    QStringList arguments;
    bool environment;
    bool copies;
  };
  const QStringList right{"5203817"};
  for (const auto& c :
       {Case{{}, true, false}, Case{{"5203817", "x"}, true, false}, Case{{"05203817"}, true, false},
        Case{{" 5203817"}, true, false}, Case{{"5203817 "}, true, false}, Case{right, false, false},
        Case{right, true, true}}) {
    SCOPED_TRACE(c.arguments.join('|').toStdString() + (c.environment ? " with" : " without"));
    TDistributionRig rig;
    fs::create_directory("dist");
    rig.Run(c.arguments, c.environment);
    EXPECT_EQ(rig.Debug.isVisible(), c.copies);
    EXPECT_EQ(rig.Debug.Memo->toPlainText(), c.copies ? "korbenit-screenshot10" : "");
    EXPECT_EQ(fs::exists("dist/korbenit-screenshot10"), c.copies);
    if (c.copies) {
      EXPECT_EQ(ReadBytes("dist/korbenit-screenshot10"), "the program");
      EXPECT_EQ(fs::status("dist/korbenit-screenshot10").permissions(), fs::perms(0751));
    }
  }
}

TEST(Distribution, TheCopyGoesWhereItCanAndFailsSilently) {
  {
    TDistributionRig rig;
    rig.Run({"5203817"}, true);
    EXPECT_FALSE(fs::exists("dist")) << "dist is never made";
    EXPECT_TRUE(rig.Debug.isVisible());
  }
  {
    TDistributionRig rig;
    fs::create_directories("dist/korbenit-screenshot10");
    rig.Run({"5203817"}, true);
    EXPECT_EQ(ReadBytes("dist/korbenit-screenshot10/korbenit-screenshot"), "the program");
  }
  {
    TDistributionRig rig;
    fs::create_directory("dist");
    WriteBytes("dist/korbenit-screenshot05", "an older copy");
    rig.Run({"5203817"}, true, 5);
    EXPECT_EQ(ReadBytes("dist/korbenit-screenshot05"), "the program");
  }
  {
    // A disk too small for the copy keeps the earlier one whole and holds nothing else.
    TDistributionRig rig;
    fs::create_directory("dist");
    if (::mount("tmpfs", "dist", "tmpfs", 0, "size=64k") != 0) GTEST_SKIP() << "cannot mount";
    WriteBytes("dist/korbenit-screenshot10", "an earlier copy");
    WriteBytes(rig.Executable, std::string(200000, 'p'));
    rig.Run({"5203817"}, true);
    EXPECT_EQ(ReadBytes("dist/korbenit-screenshot10"), "an earlier copy");
    EXPECT_EQ(std::distance(fs::directory_iterator("dist"), fs::directory_iterator()), 1);
    ::umount("dist");
  }
  EXPECT_EQ(DistributionName("Capture.exe", 10), "Capture10");
  EXPECT_EQ(DistributionName("korbenit-screenshot", 123), "korbenit-screenshot123");
}

// Under X11: a window of the development environment's class is found, and gone once
// destroyed.
TEST(Distribution, FindsAWindowOfTheEnvironmentsClass) {
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  xcb_connection_t* c = x11 ? x11->connection() : nullptr;
  if (QGuiApplication::platformName() != "xcb" || !c) GTEST_SKIP() << "no X11 display";
  EXPECT_FALSE(TopLevelWindowOfClassExists("TAPPBUILDER"));
  xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
  xcb_window_t window = xcb_generate_id(c);
  xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 10, 10, 0,
                    XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
  const char wmClass[] = "builder\0TAPPBUILDER";
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                      sizeof wmClass, wmClass);
  EXPECT_TRUE(TopLevelWindowOfClassExists("TAPPBUILDER"));
  EXPECT_FALSE(TopLevelWindowOfClassExists("builder")) << "the class, not the instance";
  xcb_destroy_window(c, window);
  EXPECT_FALSE(TopLevelWindowOfClassExists("TAPPBUILDER"));
}

}  // namespace
}  // namespace korbenit
