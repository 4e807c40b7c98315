#include "engine/format/util/Functions.h"
#include "protocol/CommunicationServer.h"

namespace palvero {

void CommunicationServer::sendStatus(const std::string& type, const std::string& Description) {
  try {
    // The values are encoded so that a "&", "+" or "%" in a file name inside
    // the description cannot cut or change the form.
    std::string description = type == "backupend" ? Description : applicationVersion() + ": " + Description;
    std::string form = getStringForRequest(RequestKind::kStatus) + "&type=" + Functions::UrlEncode(type).value_or("") +
                       "&desc=" + Functions::UrlEncode(description).value_or("");
    sendFormAsync(std::move(form), nullptr);
  } catch (const std::exception& e) {
    logFailure(std::string("Exception in method sendStatus: ") + e.what());
  }
}

}  // namespace palvero
