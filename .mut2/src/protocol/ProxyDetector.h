// Reads the system proxy for the settings page: on Linux the environment's
// http_proxy / https_proxy (either case), "[scheme://][user[:password]@]host[:port]".
// No proxy gives an empty host, port 0 and no credentials. There is no
// keychain here: credentials come from the proxy address itself.
//
// Thread contract: safe from any thread (reads the environment).
#pragma once

#include <cstdint>
#include <string>

namespace palvero {

class ProxyDetector {
 public:
  void detectHttpProxyReturningHostname(std::string& hostname, int32_t& port, std::string& username,
                                        std::string& password) const;
  void detectHttpsProxyReturningHostname(std::string& hostname, int32_t& port, std::string& username,
                                         std::string& password) const;

  // Splits a proxy address; the port defaults to 1080 for socks, else 80.
  static void parseProxyAddress(const std::string& address, std::string& hostname, int32_t& port, std::string& username,
                                std::string& password);
};

}  // namespace palvero
