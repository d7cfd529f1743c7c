#pragma once

#include <QString>
#include <string>

// The core keeps text as byte strings; the user interface shows and reads them in the locale's
// 8-bit encoding.
namespace ui {

inline QString FromLocal(const std::string& s) {
    return QString::fromLocal8Bit(s.data(), static_cast<qsizetype>(s.size()));
}

inline std::string ToLocal(const QString& s) {
    return s.toLocal8Bit().toStdString();
}

} // namespace ui
