#pragma once

#include <QDialog>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <functional>

namespace korbenit {

// A label that opens its address when clicked: navy and underlined, in the window-text
// colour while the mouse is over it.
class TLinkLabel : public QLabel {
 public:
  TLinkLabel(const QUrl& url, QWidget* parent);
  const QUrl& Url() const { return FUrl; }
  // Runs before the address is opened, to make sure it is there.
  std::function<void()> OnBeforeOpen;

 protected:
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void SetTextColour(const QColor& colour);

  QUrl FUrl;
};

// The About window: the application title, the logo, the hint to switch USB on, and the
// link to the user guide. Shown modally, centred on the main window each time.
class TAbout : public QDialog {
 public:
  static constexpr int ClientWidth = 279;
  static constexpr int ClientHeight = 157;

  explicit TAbout(QWidget* mainWindow);

  QFrame* Panel1;
  QLabel* LabApp;
  QLabel* Image1;
  QLabel* Label2;
  QLabel* Label3;
  QFrame* Footer1;
  TLinkLabel* Label1;
  QPushButton* FooterBtn1;

  void setVisible(bool visible) override;

 private:
  void BuildPanel();
  void BuildFooter();
  void FormShow();
  void PlaceOnMainWindow();

  QWidget* FMainWindow;
};

// Where the About window's link leads: the guide that the package installed beside the
// program, or else the copy built into the program, which ProvideGuide writes out to the
// user's runtime folder. Either way the link works wherever the program was copied.
QUrl GuideUrl();
void ProvideGuide();

}  // namespace korbenit
