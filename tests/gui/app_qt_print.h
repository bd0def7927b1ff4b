#pragma once
// Readable GoogleTest failure messages for Qt strings.
#include <QString>
#include <ostream>

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
