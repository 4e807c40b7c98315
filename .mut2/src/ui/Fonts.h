// The fonts the window names: Open Sans Condensed Bold (Debian's
// fonts-open-sans) for the large figures, else the system font, bold, at the
// same size.
//
// Thread contract: GUI thread only.
#pragma once

#include <QFont>

namespace palvero::ui {

class Fonts {
 public:
  static constexpr const char* kCondensedFamily = "Open Sans Condensed";

  static QFont condensedBold(qreal pointSize);
  static bool hasCondensed();
  // The system font at `pointSize`, bold when asked.
  static QFont system(qreal pointSize, bool bold = false);
};

}  // namespace palvero::ui
