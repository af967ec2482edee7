#include "tools/kv5update/ChildSession.h"

namespace kv5 {

bool ChildSession::Supported() {
  return false;
}

std::unique_ptr<ChildSession> ChildSession::Start(const std::vector<std::string>&,
                                                  std::string* error) {
  *error = "update --all is not supported on this platform: update the units one at a time.";
  return nullptr;
}

}  // namespace kv5
