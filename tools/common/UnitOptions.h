// The virtual unit's options, registered alike on both programs' command lines, with the text
// forms of unit/UnitConfigText: kv5update names them --unit-NAME (they describe its in-process
// unit), q9-unit --NAME. Names of earlier releases stay as aliases.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <string>
#include <vector>

#include "unit/UnitConfig.h"

namespace kv5 {

class UnitOptions {
 public:
  // Registers the options on app, each named prefix + its name, in the help's group.
  UnitOptions(CLI::App& app, const std::string& prefix, const std::string& group);

  // The first of them the command line gave, or null.
  const CLI::Option* FirstGiven() const;
  // The configuration the command line describes, over the defaults config holds. The parser
  // has checked each text already.
  void Apply(UnitConfig* config) const;

 private:
  std::string flash_;
  std::string deviceCode_;
  std::string revision_;
  std::string mode_;
  bool normalMode_ = false;
  std::vector<std::string> faults_;
  std::vector<std::string> requests_;
  bool acceptIdenticalRewrite_ = false;
  std::string link_;
  uint32_t rate_ = 0;
  uint32_t eraseMs_ = 0;
  uint32_t writeMs_ = 0;
  std::vector<CLI::Option*> options_;
};

}  // namespace kv5
