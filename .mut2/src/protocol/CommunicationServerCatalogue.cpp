#include <array>

#include "engine/format/util/Functions.h"
#include "protocol/CommunicationServer.h"
#include "state/LocalSettings.h"

namespace palvero {
namespace {

// What fills the first "%@"s of a format before the caller's parameters.
enum class Leading { kNone, kClientId, kClientIdAndPassword };

struct Entry {
  const char* format;
  Leading leading;
  int parameters;
  bool encodeFirst;  // the folder requests URL-encode their path
};

static_assert(static_cast<uint32_t>(RequestKind::kSendSerialNumbers) + 1 == CommunicationServer::kRequestTypeCount);

constexpr std::array<Entry, CommunicationServer::kRequestTypeCount> kCatalogue = {{
    {"request=get_account&guid=%@&password=%@", Leading::kClientIdAndPassword, 0, false},
    {"request=auth&guid=%@&password=%@", Leading::kClientIdAndPassword, 0, false},
    {"request=register&username=%@&password=%@", Leading::kNone, 2, false},
    {"request=register_device&clientId=%@&password=%@&device=%@", Leading::kNone, 3, false},
    {"request=get_folder&guid=%@&path=%@", Leading::kClientId, 1, true},
    {"request=get_folder_page&guid=%@&path=%@&page=%@", Leading::kClientId, 2, true},
    {"request=get_folder_page&guid=%@&path=%@&page=%@&sourceDeviceId=%@", Leading::kClientId, 3, true},
    {"request=get_files_list&guid=%@&path=%@", Leading::kClientId, 1, true},
    {"request=get_ver&guid=%@&file=%@&version=%@&undelete=%@", Leading::kClientId, 3, false},
    {"request=get_ver&guid=%@&file=%@&version=%@&undelete=%@&sourceDeviceId=%@", Leading::kClientId, 4, false},
    {"request=get_speed&guid=%@", Leading::kClientId, 0, false},
    {"request=check_block&guid=%@&blocks=%@", Leading::kClientId, 1, false},
    {"request=upload_block&guid=%@&checksum=%@&size=%@", Leading::kClientId, 2, false},
    {"request=upload_blocks_multi&guid=%@&blocks=%@", Leading::kClientId, 1, false},
    {"request=get_block&guid=%@&checksum=%@&size=%@", Leading::kClientId, 2, false},
    {"request=delete&guid=%@&path=%@&size=%@&extension=%@&immediately=%@", Leading::kClientId, 4, false},
    {"request=upload_ver&guid=%@&file_name=%@&size=%@&modified=%@&file=%@", Leading::kClientId, 4, false},
    {"request=get_statistic_by_categories&guid=%@", Leading::kClientId, 0, false},
    {"request=save_settings&guid=%@&type=%@&data=%@", Leading::kClientId, 2, false},
    {"request=load_settings&guid=%@&type=%@", Leading::kClientId, 1, false},
    {"request=forgot_pas&user=%@", Leading::kNone, 1, false},
    {"request=get_server_params", Leading::kNone, 0, false},
    {"request=get_top10&guid=%@&category=%@&page=%@", Leading::kClientId, 2, false},
    {"request=send_logs&guid=%@&osVersion=%@&message=%@", Leading::kClientId, 2, false},
    {"request=check_version&guid=%@&type=%@", Leading::kClientId, 1, false},
    {"request=download_update&guid=%@&type=%@", Leading::kClientId, 1, false},
    {"request=ping", Leading::kNone, 0, false},
    {"request=get_support_info&guid=%@", Leading::kClientId, 0, false},
    {"request=status&guid=%@", Leading::kClientId, 0, false},
    {"request=send_serial_numbers&guid=%@", Leading::kClientId, 0, false},
}};

// Replaces each "%@" of `format` by the next value, in order. Values are
// inserted as they are, so a "%" inside one is never read as a format.
std::string fill(const char* format, const std::vector<std::string>& values) {
  std::string out;
  std::string_view rest(format);
  size_t next = 0;
  while (true) {
    size_t at = rest.find("%@");
    if (at == std::string_view::npos || next == values.size()) {
      out.append(rest);
      return out;
    }
    out.append(rest.substr(0, at));
    out.append(values[next++]);
    rest.remove_prefix(at + 2);
  }
}

}  // namespace

std::string CommunicationServer::getStringForRequest(uint32_t requestType, const std::string& WithParam1,
                                                     const std::string& Param2, const std::string& Param3,
                                                     const std::string& Param4) const {
  if (requestType >= kRequestTypeCount) return {};
  const Entry& entry = kCatalogue[requestType];
  std::vector<std::string> values;
  if (entry.leading == Leading::kClientIdAndPassword) {
    // One read of the pair: a registration replacing it meanwhile cannot
    // mix a device's identifier with the account's password.
    auto credentials = LocalSettings::sharedManager().credentials();
    values.push_back(credentials.clientId);
    values.push_back(credentials.password);
  } else if (entry.leading == Leading::kClientId) {
    values.push_back(clientId());
  }
  const std::string* parameters[] = {&WithParam1, &Param2, &Param3, &Param4};
  for (int i = 0; i < entry.parameters; ++i) {
    if (i == 0 && entry.encodeFirst) {
      values.push_back(Functions::UrlEncode(*parameters[i]).value_or(""));
    } else {
      values.push_back(*parameters[i]);
    }
  }
  return fill(entry.format, values);
}

}  // namespace palvero
