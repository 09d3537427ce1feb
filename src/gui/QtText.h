// UTF-16 text between the program (std::u16string) and Qt (QString); both hold UTF-16 code units.
#pragma once

#include <QString>
#include <string>
#include <string_view>

#include "platform/Text.h"

namespace ab {

// A file name's bytes that are not UTF-8 show as the characters the server reads them as.
inline QString ToQString(std::u16string_view s) {
    const std::u16string readable = ReadableName(s);
    return QString(reinterpret_cast<const QChar*>(readable.data()),
                   static_cast<qsizetype>(readable.size()));
}

inline std::u16string FromQString(const QString& s) {
    return std::u16string(reinterpret_cast<const char16_t*>(s.utf16()),
                          static_cast<std::size_t>(s.size()));
}

}  // namespace ab
