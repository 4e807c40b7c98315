// Asks the service to drop what new exclusions leave out: the stored
// versions of the file types newly excluded on the file-type tabs, and of
// every file above a new size limit. Both go "not immediately": the service
// marks the versions deleted, and a file that is backed up again (or chosen
// again) is not lost.
//
// The compound-package boxes choose how files are backed up, not whether:
// they never delete anything.
//
// Thread contract: the static members are pure or read the catalogue; the
// deletions block on the network (call them off the main thread).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>

namespace palvero {

class CommunicationServer;

class ExclusionCleanup {
 public:
  // Selection map key ("pictureValues", ...) → the extensions it leaves
  // out, upper case with their dot.
  using FileTypes = std::map<std::string, std::set<std::string>>;

  // The file types the catalogue leaves out now.
  static FileTypes currentFileTypes();
  // The extensions left out in `after` but not in `before`, as a catalogue
  // list text (".ISO;.DMG;"); empty when none.
  static std::string newlyExcluded(const FileTypes& before, const FileTypes& after);
  // The service's list for a list text: lower case, each in double quotes,
  // separated by commas, in brackets ("[\".iso\",\".dmg\"]"); empty text
  // for a list without extensions.
  static std::string deletionList(const std::string& listText);

  explicit ExclusionCleanup(std::shared_ptr<CommunicationServer> server);

  // Authorises and sends the deletion of the list's extensions; false when
  // there is nothing to send, no session or the service refused.
  bool deleteFilesWithExtensions(const std::string& listText);
  // Likewise for every file larger than `bytes`; false for no limit (0 or
  // less).
  bool deleteFilesAboveSize(int64_t bytes);

 private:
  std::shared_ptr<CommunicationServer> server_;
};

}  // namespace palvero
