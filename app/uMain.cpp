#include "uMain.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QDrag>
#include <QFileInfo>
#include <QMimeData>
#include <QShortcut>
#include <QStandardPaths>
#include <QThread>
#include <clocale>
#include <cstdio>
#include <filesystem>

#include "Application.h"
#include "AsciiCase.h"
#include "Distribution.h"
#include "FailureHints.h"
#include "ImageFiles.h"
#include "Platform.h"
#include "ProgramFolders.h"
#include "uAbout.h"
#include "uDebug.h"
#include "uLive.h"

namespace korbenit {
namespace {

const QColor LampOpen(255, 0, 0);
const QColor LampClosed(0, 0, 0);

QPushButton* MakeButton(QWidget* parent, const char* caption, QRect geometry) {
  auto* button = new QPushButton(QString::fromLatin1(caption), parent);
  button->setGeometry(geometry);
  return button;
}

void FillWith(QWidget* widget, QPalette::ColorGroup group, QPalette::ColorRole role) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::Window, QApplication::palette().color(group, role));
  widget->setPalette(palette);
  widget->setAutoFillBackground(true);
}

const QString DragFolderPrefix = QStringLiteral("korbenit-drag-");

// Drag folders are named after their process: one whose process has ended (killed, or
// its display lost) is left over and goes.
void RemoveStaleDragFolders(const QString& runtimeFolder) {
  QDir folder(runtimeFolder);
  for (const QString& name :
       folder.entryList({DragFolderPrefix + "*"}, QDir::Dirs | QDir::NoDotAndDotDot)) {
    bool number = false;
    int64_t owner = name.mid(DragFolderPrefix.size()).section('-', 0, 0).toLongLong(&number);
    if (number && owner != ThisProcessId() && !ProcessRuns(owner))
      QDir(folder.filePath(name)).removeRecursively();
  }
}

}  // namespace

// The picture as the file writers read it, sharing the image's pixels.
TPicture ToPicture(const QImage& image) {
  auto holder = std::make_shared<const QImage>(image.convertToFormat(QImage::Format_RGB32));
  std::shared_ptr<const uint8_t> bits(holder, holder->constBits());
  return TPicture(holder->width(), holder->height(), 32, static_cast<int>(holder->bytesPerLine()),
                  std::move(bits));
}

QString RuntimeFolder() {
  return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
}

QString TimeStampedName() {
  return QString::fromStdString(DefaultPictureName(std::time(nullptr)));
}

void TDropDownList::showPopup() {
  if (OnDropDown) RunHandler(OnDropDown);
  QComboBox::showPopup();
}

TMain::TMain(std::unique_ptr<TSerialPortInterface> port, QString settingsFolder, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      FPort(std::move(port)),
      FSettingsFolder(std::move(settingsFolder)) {
  BuildControls();
  FPort->OnAfterOpen = [this](TSerialPortInterface& sender) { cPortAfterOpen(sender); };
  FPort->OnAfterClose = [this](TSerialPortInterface& sender) { cPortAfterClose(sender); };
  FormStorage1.AppStorage = &IniFile;
  FormStorage1.AppStoragePath = "Main\\";
  RemoveStaleDragFolders(RuntimeFolder());
  RunHandler([this] { FormCreate(); });
}

// Ended without a close request (EXIT), the placement is saved now, while the settings
// storage still exists.
TMain::~TMain() {
  Live.reset();
  RunHandler([this] { FormStorage1.WindowDestroyed(); });
  // The port's notifications point at controls that are about to go.
  FPort->OnAfterOpen = nullptr;
  FPort->OnAfterClose = nullptr;
}

void TMain::BuildControls() {
  setFixedSize(ClientWidth, ClientHeight);
  move(745, 337);
  setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
  // The window wears the inactive-caption colour and the footer the active one; the
  // style's light mid tone and highlight play those parts here.
  FillWith(this, QPalette::Inactive, QPalette::Midlight);

  Panel1 = new QFrame(this);
  Panel1->setGeometry(24, 8, 248, 328);
  Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  Panel1->setLineWidth(2);
  Screen = new TImageControl(Panel1);
  Screen->setGeometry(4, 4, 240, 320);

  ButGetScreen = MakeButton(this, "GET SCREEN", {24, 344, 97, 25});
  ButSaveAs = MakeButton(this, "SAVE AS...", {175, 344, 97, 25});
  // Nothing to save before a transfer has completed, even if the start fails half-way.
  ButSaveAs->setEnabled(false);
  connect(ButGetScreen, &QPushButton::clicked, this, [this] { ButGetScreenClick(); });
  connect(ButSaveAs, &QPushButton::clicked, this,
          [this] { RunHandler([this] { ButSaveAsClick(); }); });

  BuildFooter();
  sBar = new QStatusBar(this);
  sBar->setGeometry(0, 414, 299, 19);
  sBar->setSizeGripEnabled(false);
  BuildShortcuts();
}

// Each works only when its button would.
void TMain::BuildShortcuts() {
  auto add = [this](QKeySequence keys, std::function<void()> action) {
    auto* shortcut = new QShortcut(keys, this);
    connect(shortcut, &QShortcut::activated, this, [action] { RunHandler(action); });
  };
  add(Qt::Key_F5, [this] {
    if (ButGetScreen->isEnabled()) ButGetScreenClick();
  });
  add(QKeySequence::Save, [this] {
    if (PictureComplete()) ButSaveAsClick();
  });
  add(QKeySequence::Copy, [this] { CopyPicture(); });
  add(Qt::Key_F6, [this] { OpenLiveView(); });
  Screen->OnContextMenu = [this](const QPoint& at) { PictureMenu()->exec(at); };
  Screen->OnDragOut = [this] { RunHandler([this] { DragPictureOut(); }); };
}

std::unique_ptr<QMenu> TMain::PictureMenu() {
  auto menu = std::make_unique<QMenu>(this);
  QAction* copy = menu->addAction(QStringLiteral("Copy"), this, [this] { CopyPicture(); });
  QAction* save = menu->addAction(QStringLiteral("Save as..."), this,
                                  [this] { RunHandler([this] { ButSaveAsClick(); }); });
  copy->setEnabled(PictureComplete());
  save->setEnabled(PictureComplete());
  menu->addAction(QStringLiteral("Live view"), this,
                  [this] { RunHandler([this] { OpenLiveView(); }); });
  return menu;
}

void TMain::CopyPicture() {
  if (!PictureComplete()) return;
  QGuiApplication::clipboard()->setImage(Screen->Picture());
  ShowStatus(QStringLiteral("Picture copied to the clipboard"));
}

// The picture leaves as an image and as a PNG file, for chats and file managers alike.
void TMain::DragPictureOut() {
  if (!PictureComplete()) return;
  auto* data = new QMimeData;  // the drag owns it
  data->setImageData(Screen->Picture());
  if (!FDragFolder)
    FDragFolder = std::make_unique<QTemporaryDir>(RuntimeFolder() + '/' + DragFolderPrefix +
                                                  QString::number(ThisProcessId()) + "-XXXXXX");
  QString file = FDragFolder->filePath(TimeStampedName() + QStringLiteral(".png"));
  if (FDragFolder->isValid() && Screen->Picture().save(file, "PNG"))
    data->setUrls({QUrl::fromLocalFile(file)});
  auto* drag = new QDrag(Screen);  // Qt deletes it once the drag is over
  drag->setMimeData(data);
  drag->setPixmap(QPixmap::fromImage(Screen->Picture().scaledToWidth(60)));
  drag->exec(Qt::CopyAction);
}

void TMain::BuildFooter() {
  Footer1 = new QFrame(this);
  Footer1->setGeometry(0, 377, 299, 37);
  Footer1->setFrameStyle(QFrame::Panel | QFrame::Raised);
  FillWith(Footer1, QPalette::Active, QPalette::Highlight);

  Label1 = new QLabel(QStringLiteral("COM-Port:"), Footer1);
  Label1->setGeometry(10, 13, 51, 13);
  Label1->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  cbPorts = new TDropDownList(Footer1);
  cbPorts->setGeometry(64, 9, 81, 21);
  cbPorts->setEditable(false);
  cbPorts->OnDropDown = [this] { cbPortsDropDown(); };
  // The closed list tells what its chosen port is.
  connect(cbPorts, &QComboBox::currentIndexChanged, this, [this](int index) {
    cbPorts->setToolTip(cbPorts->itemData(index, Qt::ToolTipRole).toString());
  });

  LedPanel = new QFrame(Footer1);
  LedPanel->setGeometry(152, 11, 17, 17);
  LedPanel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  LedPanel->setLineWidth(2);
  LedPanel->setAutoFillBackground(true);
  SetLamp(LampClosed);

  ButAbout = MakeButton(Footer1, "?", {192, 9, 33, 23});
  ButExit = MakeButton(Footer1, "EXIT", {232, 9, 59, 23});
  connect(ButAbout, &QPushButton::clicked, this,
          [this] { RunHandler([this] { ButAboutClick(); }); });
  connect(ButExit, &QPushButton::clicked, this, [this] { RunHandler([this] { ButExitClick(); }); });
}

void TMain::FormCreate() {
  AppVersion = 10;
  // The title's version keeps its point whatever the user's regional settings say.
  std::setlocale(LC_NUMERIC, "C");
  AppTitle =
      QStringLiteral("Korbenit - Screenshot v") + QString::fromStdString(FormatVersion(AppVersion));
  TProgramFolders folders = ThisProgramsFolders();
  ExePath = folders.ExePath;
  BmpPath = folders.BmpPath;
  QString settingsFolder =
      FSettingsFolder.isEmpty() ? folders.SettingsFolder : FSettingsFolder + '/';
  // A settings file that cannot be read is reported once the window has its title, so
  // the message box carries it and the window is whole.
  std::exception_ptr settingsError;
  try {
    IniFile.SetFileName((settingsFolder + QStringLiteral("Vantor_Screenshot.ini")).toStdString());
  } catch (...) {
    settingsError = std::current_exception();
  }
  if (auto* app = TApplication::Instance()) app->SetTitle(AppTitle);
  setWindowTitle(AppTitle);
  TEOpenDialog::SetEmptyInitialDirMeansCurrent(true);
  TEOpenDialog::SetOwner(this);
  SaveDlg.Filter = QStringLiteral("Bitmap (*.bmp)|*.bmp|JPEG (*.jpg)|*.jpg");
  SaveDlg.Title = QStringLiteral("Save as...");
  if (settingsError) std::rethrow_exception(settingsError);
}

// The placement comes back as the window is first shown, before the show handler reads
// its own settings, and before the native window exists: the frame then goes straight
// to its stored place instead of appearing at the designed one first.
void TMain::setVisible(bool visible) {
  if (visible && !FPlacementRestored) {
    FPlacementRestored = true;
    RunHandler([this] { FormStorage1.WindowShown(); });
  }
  QWidget::setVisible(visible);
}

void TMain::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (FShown) return;
  FShown = true;
  RunHandler([this] { FormShow(); });
}

void TMain::FormShow() {
  if (Debug)
    RunDistributionMode(QCoreApplication::arguments().mid(1), AppVersion,
                        QCoreApplication::applicationFilePath().toStdString(), *Debug,
                        [] { return TopLevelWindowOfClassExists("TAPPBUILDER"); });
  std::error_code ignored;  // the folder is a convenience; failing to make it is harmless
  std::filesystem::create_directories(BmpPath.toStdString(), ignored);
  ReadSettings();
  DisableSaveAs();
  RefreshPortList(FStoredPort);
}

// A value that cannot be used gives way to its default: a number that is none is
// reported and the start goes on, so the port list is still filled and the stored port
// kept; a file type out of range would make the dialog's name and filter disagree.
void TMain::ReadSettings() {
  IniFile.SetDefaultSection("CONFIG");
  FStoredPort = QString::fromStdString(IniFile.ReadStr("COMPORT", ""));
  int format = 1;
  RunHandler([&] { format = IniFile.ReadInt("FILEFORMAT", 1); });
  SaveDlg.SetFilterIndex(format == 1 || format == 2 ? format : 1);
  QString folder = QString::fromStdString(IniFile.ReadStr("FILEDIR", ExePath.toStdString()));
  SaveDlg.SetInitialDir(QFileInfo(folder).isFile() ? ExePath : folder);
}

// A close handler that fails keeps the window open; EXIT still ends the program.
void TMain::closeEvent(QCloseEvent* event) {
  RunHandler([this] { FormStorage1.CloseAllowed(); });
  if (!RunHandler([this] { FormClose(); })) {
    event->ignore();
    return;
  }
  // A transfer still running stops at its next line and closes the port.
  FEnding = true;
  if (Live) Live->close();
  event->accept();
}

// With no port in the list the stored one stays, for when the device is back.
void TMain::FormClose() {
  IniFile.SetDefaultSection("CONFIG");
  QString port = cbPorts->count() > 0 ? cbPorts->currentText() : FStoredPort;
  IniFile.WriteStr("COMPORT", port.toStdString());
  IniFile.WriteInt("FILEFORMAT", SaveDlg.FilterIndex());
  QString fileName = SaveDlg.FileName();
  if (!fileName.isEmpty())
    IniFile.WriteStr("FILEDIR", fileName.left(fileName.lastIndexOf('/') + 1).toStdString());
}

void TMain::ButExitClick() {
  FEnding = true;
  if (Live) Live->close();
  // Ends the message loop without closing the window, so FormClose does not run.
  QCoreApplication::exit(0);
}

void TMain::ButAboutClick() {
  if (About) About->exec();
}

void TMain::ButSaveAsClick() {
  SaveWithDialog(Screen->Picture());
}

void TMain::SaveWithDialog(const QImage& image) {
  ShowStatus({});
  SaveDlg.SetFileName(TimeStampedName() + SaveDlg.FilterExtension());
  if (!SaveDlg.Prompt()) return;
  try {
    SavePicture(image, SaveDlg.FileName());
  } catch (const std::exception& e) {
    ShowFailure(TFailure::Of(e));
  }
}

// The writer follows the chosen file type, never the name's extension.
void TMain::SavePicture(const QImage& image, const QString& path) {
  int type = SaveDlg.FilterIndex();
  TPicture picture = ToPicture(image);
  if (type == 1) SaveBitmapFile(picture, path.toStdString());
  if (type == 2) SaveJpegFile(picture, path.toStdString());
  if (type != 1 && type != 2) return;
  ShowStatus(QStringLiteral("Saved as: ") + path.mid(path.lastIndexOf('/') + 1));
}

void TMain::cbPortsDropDown() {
  RefreshPortList(cbPorts->currentText());
}

// A failing enumeration reaches the application's error handler; the list keeps its
// old content then.
void TMain::RefreshPortList(const QString& name) {
  TStringList ports;
  ListSerialPorts(ports, PortSources);
  cbPorts->clear();
  for (const auto& port : ports) cbPorts->addItem(QString::fromStdString(port));
  SortPortList();
  DescribePorts();
  int found = 0;
  for (int i = 0; i < cbPorts->count(); ++i)
    if (SameTextIgnoringCase(cbPorts->itemText(i).toStdString(), name.toStdString())) {
      found = i;
      break;
    }
  cbPorts->setCurrentIndex(found);
  // The first entry added was chosen before it was described.
  cbPorts->setToolTip(cbPorts->itemData(cbPorts->currentIndex(), Qt::ToolTipRole).toString());
}

namespace {

// What the port list says of a port: its USB device, or what kind of port it is.
QString PortDescription(const QString& name, const TPortListSources& sources) {
  QString what = QString::fromStdString(DescribePort(name.toStdString(), sources));
  if (what == QStringLiteral("virtual")) return QStringLiteral("virtual port");
  if (!what.isEmpty()) return what;
  return name.startsWith(QStringLiteral("ttyS")) ? QStringLiteral("serial port on the main board")
                                                 : QStringLiteral("serial port");
}

}  // namespace

// Each entry tells what the port is; the list opens as wide as its longest name.
void TMain::DescribePorts() {
  int widest = cbPorts->width();
  for (int i = 0; i < cbPorts->count(); ++i) {
    QString name = cbPorts->itemText(i);
    cbPorts->setItemData(i, PortDescription(name, PortSources), Qt::ToolTipRole);
    widest = std::max(widest, cbPorts->fontMetrics().horizontalAdvance(name) + 24);
  }
  cbPorts->view()->setMinimumWidth(widest);
}

void TMain::SortPortList() {
  TStringList list;
  for (int i = 0; i < cbPorts->count(); ++i) list.push_back(cbPorts->itemText(i).toStdString());
  CustomSort(list, NaturalSortCompare);
  for (int i = 0; i < cbPorts->count(); ++i)
    cbPorts->setItemText(i, QString::fromStdString(list[static_cast<std::size_t>(i)]));
}

void TMain::DisableSaveAs() {
  ButSaveAs->setEnabled(false);
  QCoreApplication::processEvents();
}

// The live view lets go of the port for the transfer and takes it again afterwards.
void TMain::ButGetScreenClick() {
  // A nested transfer on the same open port would corrupt both.
  if (FTransferRunning) return;
  FTransferRunning = true;
  ButGetScreen->setEnabled(false);
  if (Live) Live->Suspend();
  RunHandler([this] { TScreenTransfer(*FPort, *this).Run(); });
  if (Live && !FEnding) Live->ResumeAfterSuspend();
  ButGetScreen->setEnabled(true);
  FTransferRunning = false;
}

// The live view mirrors the port chosen here, saves its snapshots where "SAVE AS..."
// would and as the file type chosen there, and keeps its zoom in this settings file.
void TMain::OpenLiveView() {
  if (!Live) {
    TLiveHost host;
    host.Port = [this] { return SelectedPort(); };
    host.SnapshotFolder = [this] {
      QString chosen = SaveDlg.FileName();
      return chosen.isEmpty() ? SaveDlg.InitialDir() : chosen.left(chosen.lastIndexOf('/') + 1);
    };
    host.SnapshotType = [this] { return SaveDlg.FilterIndex(); };
    host.SaveAs = [this](const QImage& image) { SaveWithDialog(image); };
    host.Settings = &IniFile;
    host.PortHeld = [this](bool held) { SetLamp(held ? LampOpen : LampClosed); };
    Live = std::make_unique<TLive>(std::move(host));
  }
  Live->show();
  Live->raise();
  Live->activateWindow();
  if (!Live->Mirroring() && !Live->Paused()) Live->Start();
}

void TMain::cPortAfterOpen(TSerialPortInterface&) {
  SetLamp(LampOpen);
}

void TMain::cPortAfterClose(TSerialPortInterface&) {
  SetLamp(LampClosed);
}

void TMain::SetLamp(const QColor& colour) {
  QPalette palette = LedPanel->palette();
  palette.setColor(QPalette::Window, colour);
  LedPanel->setPalette(palette);
}

QColor TMain::LampColor() const {
  return LedPanel->palette().color(QPalette::Window);
}

std::string TMain::SelectedPort() const {
  return cbPorts->currentText().toStdString();
}

void TMain::ClearPicture() {
  Screen->Fill(MakeColor(0, 0, 0));
}

void TMain::PaintLine(int line, const TLineColours& colours) {
  Screen->PaintLine(line, colours);
}

void TMain::SetSaveAsEnabled(bool enabled) {
  ButSaveAs->setEnabled(enabled);
}

void TMain::SetStatusText(const std::string& text) {
  ShowStatus(QString::fromStdString(text));
}

// A long message is shortened in the middle; the tooltip holds it whole, with a hint for
// the failures people meet most.
void TMain::ShowFailure(const TFailure& failure) {
  Beep();
  ShowStatus(QString::fromStdString(failure.Message), failure.Kind);
}

void TMain::ShowStatus(const QString& text, TFailureKind kind) {
  FStatusText = text;
  int room = sBar->contentsRect().width() - 8;
  sBar->showMessage(sBar->fontMetrics().elidedText(text, Qt::ElideMiddle, room));
  QString hint =
      QString::fromStdString(FailureHint(kind, PortGroup(cbPorts->currentText().toStdString())));
  sBar->setToolTip(hint.isEmpty() ? text : text + '\n' + hint);
}

void TMain::SetLampOpen(bool open) {
  SetLamp(open ? LampOpen : LampClosed);
}

void TMain::ProcessMessages() {
  QCoreApplication::processEvents();
}

void TMain::Beep() {
  QApplication::beep();
}

void TMain::Pause(int milliseconds) {
  QThread::msleep(static_cast<unsigned long>(milliseconds));
}

}  // namespace korbenit
