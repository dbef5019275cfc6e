#pragma once

#include <QColor>
#include <QRect>
#include <QString>
#include <ostream>

// Readable failure messages for the Qt values the window tests compare.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
inline void PrintTo(const QColor& c, std::ostream* os) {
  *os << "rgb(" << c.red() << "," << c.green() << "," << c.blue() << ")";
}
inline void PrintTo(const QRect& r, std::ostream* os) {
  *os << r.x() << "," << r.y() << " " << r.width() << "x" << r.height();
}
QT_END_NAMESPACE
