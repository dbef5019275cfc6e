#include "uAbout.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMouseEvent>
#include <QPixmap>

#include "Application.h"
#include "SafeFile.h"
#include "uMain.h"

// The resources live in a static library; nothing would pull them in otherwise.
static void LoadResources() {
  Q_INIT_RESOURCE(resources);
}

namespace korbenit {
namespace {

void Fill(QWidget* widget, const QColor& colour) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::Window, colour);
  widget->setPalette(palette);
  widget->setAutoFillBackground(true);
}

QLabel* MakeHint(const QString& text, QRect geometry, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setGeometry(geometry);
  label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  return label;
}

// The logo stretched to its control; the colour of its bottom-left pixel is left out.
QPixmap TransparentLogo(QSize size) {
  QImage logo(QStringLiteral(":/logo.bmp"));
  QPixmap pixmap = QPixmap::fromImage(logo.scaled(size));
  if (!logo.isNull())
    pixmap.setMask(pixmap.createMaskFromColor(logo.pixelColor(0, logo.height() - 1)));
  return pixmap;
}

// A local file shows its name, a web address its host.
QString Caption(const QUrl& url) {
  return url.isLocalFile() ? url.fileName() : url.host();
}

}  // namespace

namespace {

const QString BuiltInGuide = QStringLiteral(":/guide/README.md");

QString InstalledGuide() {
  return QCoreApplication::applicationDirPath() +
         QStringLiteral("/../share/doc/korbenit-screenshot/README.md");
}

}  // namespace

QUrl GuideUrl() {
  QFileInfo installed(InstalledGuide());
  if (installed.isFile()) return QUrl::fromLocalFile(installed.canonicalFilePath());
  return QUrl::fromLocalFile(RuntimeFolder() +
                             QStringLiteral("/korbenit-screenshot-guide/README.md"));
}

// The built-in copy goes out whole, under its name only once complete.
void ProvideGuide() {
  QString target = GuideUrl().toLocalFile();
  if (target == QFileInfo(InstalledGuide()).canonicalFilePath()) return;
  QFile guide(BuiltInGuide);
  if (!guide.open(QIODevice::ReadOnly)) return;
  QByteArray text = guide.readAll();
  QDir().mkpath(QFileInfo(target).path());
  TReplacingFile copy(target.toStdString());
  copy.Write(text.constData(), static_cast<std::size_t>(text.size()));
  copy.Commit();
}

TLinkLabel::TLinkLabel(const QUrl& url, QWidget* parent) : QLabel(Caption(url), parent), FUrl(url) {
  QFont underlined = font();
  underlined.setUnderline(true);
  setFont(underlined);
  setCursor(Qt::PointingHandCursor);
  SetTextColour(QColor(0, 0, 128));
}

void TLinkLabel::SetTextColour(const QColor& colour) {
  QPalette palette = this->palette();
  palette.setColor(QPalette::WindowText, colour);
  setPalette(palette);
}

void TLinkLabel::enterEvent(QEnterEvent*) {
  SetTextColour(QApplication::palette().color(QPalette::WindowText));
}

void TLinkLabel::leaveEvent(QEvent*) {
  SetTextColour(QColor(0, 0, 128));
}

// Whether the desktop could open it is nobody's business here.
void TLinkLabel::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !rect().contains(event->position().toPoint())) return;
  if (OnBeforeOpen && !RunHandler(OnBeforeOpen)) return;
  QDesktopServices::openUrl(FUrl);
}

TAbout::TAbout(QWidget* mainWindow)
    : QDialog(nullptr,
              Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint),
      FMainWindow(mainWindow) {
  LoadResources();
  setWindowTitle(QStringLiteral("About"));
  setModal(true);
  setFixedSize(ClientWidth, ClientHeight);
  setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
  Fill(this, QApplication::palette().color(QPalette::Button));
  BuildPanel();
  BuildFooter();
}

void TAbout::BuildPanel() {
  Panel1 = new QFrame(this);
  Panel1->setGeometry(0, 0, ClientWidth, 120);
  Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
  Panel1->setLineWidth(2);
  Fill(Panel1, QColor(255, 233, 166));

  LabApp = new QLabel(Panel1);
  LabApp->setGeometry(96, 8, 169, 57);
  LabApp->setAlignment(Qt::AlignCenter);
  LabApp->setWordWrap(true);
  QFont title(QStringLiteral("Tahoma"), 14);
  title.setBold(true);
  LabApp->setFont(title);

  Image1 = new QLabel(Panel1);
  Image1->setGeometry(16, 16, 65, 57);
  Image1->setPixmap(TransparentLogo(Image1->size()));

  Label2 = MakeHint(QStringLiteral("USB must be activated in Korbenit setup-menu"),
                    {11, 80, 257, 13}, Panel1);
  Label3 = MakeHint(QStringLiteral("Bitte USB im Korbenit Einstellungsmenü aktivieren"),
                    {11, 96, 257, 13}, Panel1);
}

void TAbout::BuildFooter() {
  Footer1 = new QFrame(this);
  Footer1->setGeometry(0, 120, ClientWidth, 37);
  Footer1->setFrameStyle(QFrame::Panel | QFrame::Raised);
  Fill(Footer1, QApplication::palette().color(QPalette::Active, QPalette::Highlight));

  Label1 = new TLinkLabel(GuideUrl(), Footer1);
  Label1->OnBeforeOpen = ProvideGuide;
  Label1->move(8, 12);
  Label1->adjustSize();

  FooterBtn1 = new QPushButton(QStringLiteral("CLOSE"), Footer1);
  FooterBtn1->setGeometry(197, 7, 74, 23);
  connect(FooterBtn1, &QPushButton::clicked, this, [this] { done(1); });
}

// Every showing brings the current title and the place over the main window.
void TAbout::setVisible(bool visible) {
  if (visible && !isVisible()) {
    RunHandler([this] { FormShow(); });
    PlaceOnMainWindow();
  }
  QDialog::setVisible(visible);
}

void TAbout::FormShow() {
  if (auto* app = TApplication::Instance()) LabApp->setText(app->Title());
}

// move() places the frame: before the first showing there is none yet, and afterwards
// Qt keeps the frame's offset from the last one. Until this window has had a frame, the
// main window's frame stands in for its size.
void TAbout::PlaceOnMainWindow() {
  if (!FMainWindow) return;
  QSize frame = frameGeometry().size();
  if (frame == size()) {
    QRect outer = FMainWindow->frameGeometry(), inner = FMainWindow->geometry();
    frame += QSize(outer.width() - inner.width(), outer.height() - inner.height());
  }
  move(FMainWindow->frameGeometry().center() - QPoint(frame.width() / 2, frame.height() / 2));
}

}  // namespace korbenit
