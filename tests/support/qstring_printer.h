#pragma once
// Lets GoogleTest print Qt strings in failure messages.

#include <QString>

#include <ostream>

inline std::ostream& operator<<(std::ostream& os, const QString& text) { return os << text.toStdString(); }
inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }
