// The file types of the exclusions editor: one check box per extension of
// each category (checked: left out of the backup), and the size limit. A box
// writes the category's selection map and its list text (which the backup
// filter reads) at once; extensions the service added to a list that have no
// box stay in it.
//
// Thread contract: safe from any thread (the catalogue's values are replaced
// whole); meant for the window's main thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/Value.h"
#include "selection/CommonExtensions.h"

namespace palvero {

class FileTypeSelection {
 public:
  struct Category {
    const char* name;       // the localisation key of its tab and the category's list key
    const char* valuesKey;  // its selection map ("pictureValues", ...)
    std::vector<const char*> extensions;
    Value (CommonExtensions::*values)() const;
    void (CommonExtensions::*setValues)(Value);
    std::optional<std::string> (CommonExtensions::*list)() const;
    void (CommonExtensions::*setList)(std::optional<std::string>);
  };

  // The categories with their boxes, in the editor's order.
  static const std::vector<Category>& categories();
  static const Category* category(const std::string& valuesKey);

  static bool isChecked(const Category& category, const std::string& extension);
  // Sets the box and saves the catalogue.
  static void setChecked(const Category& category, const std::string& extension, bool checked);

  // The size limit as typed: the number times 2^20 (megabytes) or 2^30
  // (gigabytes); -1 (no limit) for 0 or text that is not a number.
  static int64_t sizeLimitBytes(const std::string& text, bool gigabytes);
  // Stores it as "maxSize" (logging a positive limit) and saves; returns it.
  static int64_t storeSizeLimit(const std::string& text, bool gigabytes);
  // The stored limit for the editor: the number and whether it is in
  // gigabytes; empty text when there is no limit.
  static std::pair<std::string, bool> sizeLimitForDisplay();
};

}  // namespace palvero
