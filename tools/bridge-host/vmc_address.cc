#include "tools/bridge-host/vmc_address.h"

#include <cstdlib>

bool parse_vmc_address(const std::string& text, VmcAddress& address, std::string& error) {
  std::string host = "127.0.0.1";
  std::string port = text;
  if (const auto colon = text.rfind(':'); colon != std::string::npos) {
    host = text.substr(0, colon);
    port = text.substr(colon + 1);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
      host = host.substr(1, host.size() - 2);
    else if (host.find(':') != std::string::npos)
      host.clear();  // an IPv6 address needs its brackets
  }
  char* end = nullptr;
  const long value = port.empty() ? 0 : std::strtol(port.c_str(), &end, 10);
  if (host.empty() || port.empty() || *end != '\0' || value < 1 || value > 65535 ||
      !(port[0] >= '0' && port[0] <= '9')) {
    error = "--vmc wants [HOST:]PORT (PORT 1-65535, an IPv6 HOST in brackets), not \"" + text + "\"";
    return false;
  }
  address.host = host;
  address.port = static_cast<int>(value);
  return true;
}
