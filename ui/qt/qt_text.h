#pragma once

// The controllers' texts are UTF-8; Qt's are QStrings.

#include <QString>
#include <string_view>

namespace tessell::ui {

inline QString qtText(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

} // namespace tessell::ui
