// Texts of the localisation table as Qt strings.
#pragma once

#include <QString>

#include "app/Localization.h"

namespace palvero::ui {

inline QString T(const char* key) { return QString::fromStdString(L(key)); }
inline QString Q(const std::string& text) { return QString::fromStdString(text); }

}  // namespace palvero::ui
