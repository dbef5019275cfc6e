#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QTimer>
#include <functional>

namespace korbenit::testing {

// Acts on the next modal file dialog as soon as it is open.
inline void WhenDialogOpens(std::function<void(QFileDialog&)> drive) {
  QTimer::singleShot(0, [drive] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    drive(*dialog);
  });
}

inline QLineEdit* FileNameBox(QFileDialog& dialog) {
  return dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
}

// Picks a type (1-based) from the dialog's list as a user does.
inline void ChooseType(QFileDialog& dialog, int index) {
  auto* types = dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
  ASSERT_NE(types, nullptr);
  types->setCurrentIndex(index - 1);
  emit types->activated(index - 1);
  emit types->textActivated(types->itemText(index - 1));
}

inline void Confirm(QFileDialog& dialog) { static_cast<QDialog&>(dialog).accept(); }

}  // namespace korbenit::testing
