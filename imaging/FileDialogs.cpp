#include "FileDialogs.h"

#include <QApplication>
#include <QEvent>
#include <QFileDialog>
#include <QLineEdit>
#include <QPointer>
#include <QScreen>
#include <QStringList>

namespace korbenit {
namespace {

constexpr int FileNameBufferLength = 260;

QPointer<QWidget>& Owner() {
  static QPointer<QWidget> owner;
  return owner;
}

bool& EmptyMeansCurrent() {
  static bool on = false;
  return on;
}

// Qt's type list: "description (patterns)" for each pair of the "|"-separated filter.
QStringList NameFilters(const QString& filter) {
  QStringList parts = filter.split('|');
  QStringList names;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    QString patterns = parts[i + 1];
    patterns.replace(';', ' ');
    QString description = parts[i];
    names << (description.endsWith("(" + parts[i + 1] + ")") ? description
                                                             : description + " (" + patterns + ")");
  }
  return names;
}

QLineEdit* FileNameBox(QFileDialog* dialog) {
  return dialog ? dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")) : nullptr;
}

// Moves the dialog when it first shows: centred across the main window's monitor, its
// top a third of the way down the room left above and below it.
class TPlacer : public QObject {
 public:
  explicit TPlacer(QFileDialog* dialog) : QObject(dialog), FDialog(dialog) {
    dialog->installEventFilter(this);
  }
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Show && !FPlaced) {
      FPlaced = true;
      QWidget* owner = Owner();
      QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
      QRect area = screen->availableGeometry();
      QSize size = FDialog->frameGeometry().size();
      FDialog->move(area.x() + (area.width() - size.width()) / 2,
                    area.y() + (area.height() - size.height()) / 3);
    }
    return false;
  }

 private:
  QFileDialog* FDialog;
  bool FPlaced = false;
};

}  // namespace

void TEOpenDialog::SetOwner(QWidget* owner) {
  Owner() = owner;
}

void TEOpenDialog::SetEmptyInitialDirMeansCurrent(bool on) {
  EmptyMeansCurrent() = on;
}

void TEOpenDialog::SetInitialDir(const QString& folder) {
  FInitialDir = folder;
  // A trailing separator goes, except on a root ("/", or a drive root such as "C:\").
  if (FInitialDir.size() > 1 && (FInitialDir.endsWith('/') || FInitialDir.endsWith('\\')) &&
      FInitialDir[FInitialDir.size() - 2] != ':')
    FInitialDir.chop(1);
}

QString TEOpenDialog::FileName() const {
  QLineEdit* box = FileNameBox(FDialog);
  if (!box) return FFileName;
  QString typed = box->text();
  if (typed.isEmpty() || typed.startsWith('/')) return typed;
  QString folder = CurrentFolder();
  return folder.endsWith('/') ? folder + typed : folder + '/' + typed;
}

void TEOpenDialog::SetFileName(const QString& name) {
  FFileName = name;
  if (QLineEdit* box = FileNameBox(FDialog)) box->setText(name);
}

int TEOpenDialog::FilterIndex() const {
  return FDialog ? FCurrentIndex : FFilterIndex;
}

QString TEOpenDialog::CurrentFolder() const {
  return FDialog ? FDialog->directory().absolutePath() : QString();
}

QString TEOpenDialog::FilterExtension() const {
  return QString::fromStdString(
      FilterExtensionOf(Filter.toStdString(), FilterIndex(), DefaultExt.toStdString()));
}

void TEOpenDialog::ApplyFilterExtension() {
  if (AutoExtention) {
    QString folder = CurrentFolder();
    QString name = FileName();
    // The shown folder and its separator are dropped, so a name typed in the folder keeps
    // its short form; a folder already ending in a separator loses only itself.
    if (!folder.isEmpty() && name.startsWith(folder)) {
      int cut = folder.endsWith('/') ? folder.size() : folder.size() + 1;
      if (folder.endsWith('/') || name.size() == folder.size() || name[folder.size()] == '/')
        name.remove(0, cut);
    }
    if (!name.isEmpty())
      SetFileName(QString::fromStdString(
          ReplaceExtension(name.toStdString(), FilterExtension().toStdString())));
  }
  if (OnTypeChange) OnTypeChange(*this);
}

void TEOpenDialog::TypeSelected(int index) {
  if (index == FCurrentIndex) return;
  FCurrentIndex = index;
  ApplyFilterExtension();
}

bool TEOpenDialog::Prompt() {
  ApplyFilterExtension();
  return Execute(false);
}

bool TESaveDialog::Prompt() {
  return Execute(true);
}

bool TEOpenDialog::Execute(bool saving) {
  QFileDialog dialog(Owner(), Title);
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setOption(QFileDialog::DontConfirmOverwrite,
                   !Options.contains(TOpenOption::ofOverwritePrompt));
  // A saving dialog runs in Qt's open mode for any file name: Qt's save mode renames the
  // typed name on every type change by rules of its own, even when the same type is
  // chosen again, and the extension rule here must be the only one.
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(saving ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  if (saving) dialog.setLabelText(QFileDialog::Accept, QStringLiteral("&Save"));
  dialog.setModal(true);
  if (!DefaultExt.isEmpty()) dialog.setDefaultSuffix(DefaultExt);

  QStringList filters = NameFilters(Filter);
  dialog.setNameFilters(filters);
  if (FFilterIndex >= 1 && FFilterIndex <= filters.size())
    dialog.selectNameFilter(filters[FFilterIndex - 1]);
  FCurrentIndex = FFilterIndex;

  QString folder = FInitialDir.isEmpty() && EmptyMeansCurrent() ? QStringLiteral(".") : FInitialDir;
  if (!folder.isEmpty()) dialog.setDirectory(folder);
  dialog.selectFile(FFileName.left(FileNameBufferLength));
  new TPlacer(&dialog);

  QObject::connect(&dialog, &QFileDialog::filterSelected, [this, filters](const QString& chosen) {
    TypeSelected(static_cast<int>(filters.indexOf(chosen)) + 1);
  });
  FDialog = &dialog;
  bool confirmed = dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty();
  // The type the user saw selected, also when the stored index named none of the list.
  int chosenIndex = static_cast<int>(filters.indexOf(dialog.selectedNameFilter())) + 1;
  FDialog = nullptr;
  if (!confirmed) return false;

  FFileName = dialog.selectedFiles().first();
  FFilterIndex = chosenIndex;
  Options.erase(TOpenOption::ofReadOnly);
  Options.erase(TOpenOption::ofExtensionDifferent);
  if (!DefaultExt.isEmpty() && QFileInfo(FFileName).suffix() != DefaultExt)
    Options.insert(TOpenOption::ofExtensionDifferent);
  return true;
}

}  // namespace korbenit
