// Conversions between the library's texts (std::string, UTF-8) and Qt's QString, for the code
// that hands texts to Qt: Q(text) and S(qtext).
#pragma once

#include <QString>
#include <string>

namespace tav {

inline QString Q(const std::string& s) { return QString::fromStdString(s); }
inline std::string S(const QString& s) { return s.toStdString(); }

}  // namespace tav
