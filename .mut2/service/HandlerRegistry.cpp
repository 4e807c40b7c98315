#include "HandlerRegistry.h"

#include <cstdio>
#include <cstdlib>

namespace palvero::service {

HandlerRegistry& HandlerRegistry::instance() {
  static HandlerRegistry registry;
  return registry;
}

void HandlerRegistry::add(HandlerSpec spec) {
  if (handlers_.count(spec.kind)) {
    std::fprintf(stderr, "palvero-service: request kind \"%s\" registered twice\n", spec.kind.c_str());
    std::abort();
  }
  std::string kind = spec.kind;
  handlers_.emplace(std::move(kind), std::move(spec));
}

const HandlerSpec* HandlerRegistry::find(const std::string& kind) const {
  auto it = handlers_.find(kind);
  return it == handlers_.end() ? nullptr : &it->second;
}

std::vector<std::string> HandlerRegistry::kinds() const {
  std::vector<std::string> out;
  for (const auto& [kind, spec] : handlers_) out.push_back(kind);
  return out;
}

HandlerRegistration::HandlerRegistration(std::string kind, Access access, HandlerFn fn) {
  HandlerRegistry::instance().add({std::move(kind), access, std::move(fn)});
}

}  // namespace palvero::service
