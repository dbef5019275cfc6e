#pragma once

#include <QString>
#include <functional>
#include <set>

#include "FileNameRules.h"

class QFileDialog;
class QWidget;

namespace korbenit {

enum class TOpenOption {
  ofReadOnly,
  ofOverwritePrompt,
  ofHideReadOnly,
  ofNoChangeDir,
  ofShowHelp,
  ofNoValidate,
  ofAllowMultiSelect,
  ofExtensionDifferent,
  ofPathMustExist,
  ofFileMustExist,
  ofCreatePrompt,
  ofShareAware,
  ofNoReadOnlyReturn,
  ofNoTestFileCreate,
  ofNoNetworkButton,
  ofNoLongNames,
  ofOldStyleDialog,
  ofNoDereferenceLinks,
  ofEnableIncludeNotify,
  ofEnableSizing,
};
using TOpenOptions = std::set<TOpenOption>;

// A file dialog whose typed name follows the chosen file type: picking another entry of
// the type list replaces the extension in the file-name box at once.
class TEOpenDialog {
 public:
  using TNotifyEvent = std::function<void(TEOpenDialog& sender)>;

  TEOpenDialog() = default;
  TEOpenDialog(const TEOpenDialog&) = delete;
  TEOpenDialog& operator=(const TEOpenDialog&) = delete;
  virtual ~TEOpenDialog() = default;

  QString DefaultExt;
  QString Filter;
  QString Title;
  TOpenOptions Options = {TOpenOption::ofHideReadOnly, TOpenOption::ofEnableSizing};
  bool AutoExtention = false;
  TNotifyEvent OnTypeChange;

  // While the dialog is open these read and write the dialog itself.
  QString FileName() const;
  void SetFileName(const QString& name);
  int FilterIndex() const;
  void SetFilterIndex(int index) { FFilterIndex = index; }
  const QString& InitialDir() const { return FInitialDir; }
  void SetInitialDir(const QString& folder);

  // The extension of the current type entry, with its point, or empty. Never raises.
  QString FilterExtension() const;
  // The folder the open dialog shows; empty while it is closed.
  QString CurrentFolder() const;
  // The reaction to a change of file type.
  void ApplyFilterExtension();

  // Shows the dialog modally; true when the user confirmed a name.
  virtual bool Prompt();

  // The owner of every dialog: the application's main window.
  static void SetOwner(QWidget* owner);
  // Process-wide: a dialog whose initial folder is empty opens in the current folder.
  static void SetEmptyInitialDirMeansCurrent(bool on);

 protected:
  bool Execute(bool saving);

 private:
  void TypeSelected(int index);

  QString FFileName;
  int FFilterIndex = 1;
  int FCurrentIndex = 1;
  QString FInitialDir;
  QFileDialog* FDialog = nullptr;
};

class TESaveDialog : public TEOpenDialog {
 public:
  TESaveDialog() { AutoExtention = true; }
  bool Prompt() override;
};

}  // namespace korbenit
