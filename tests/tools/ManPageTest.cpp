// The manual pages against the programs: every long option a program's help shows is documented
// in its page, and the page documents no option the program does not have.
#include <gtest/gtest.h>

#include "support/ChildProcess.h"

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace kv5 {
namespace {

using namespace std::chrono_literals;

std::set<std::string> LongOptions(const std::string& text, const std::regex& pattern) {
  std::set<std::string> options;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), pattern);
       it != std::sregex_iterator(); ++it) {
    options.insert(std::regex_replace((*it)[1].str(), std::regex(R"(\\-)"), "-"));
  }
  return options;
}

// The long options of the help of the program and of each of its commands.
std::set<std::string> HelpOptions(const std::string& program,
                                  const std::vector<std::string>& commands) {
  std::set<std::string> options;
  std::vector<std::vector<std::string>> runs = {{"--help"}};
  for (const std::string& command : commands) runs.push_back({command, "--help"});
  for (const auto& args : runs) {
    test::ChildProcess run(program, args, test::CapturedRun());
    EXPECT_EQ(run.Wait(20s), std::optional<int>(0));
    options.merge(LongOptions(run.Out(), std::regex(R"(--([a-z][a-z0-9-]*))")));
  }
  return options;
}

// The options of the page's OPTIONS section (its examples may show other programs' options).
// Roff writes the options' hyphens as "\-".
std::set<std::string> PageOptions(const std::string& page) {
  std::ifstream file(std::string(KV5_MAN_DIR) + "/" + page);
  EXPECT_TRUE(file.good()) << page;
  std::stringstream text;
  text << file.rdbuf();
  const std::string all = text.str();
  const size_t begin = all.find("\n.SH OPTIONS\n");
  EXPECT_NE(begin, std::string::npos) << page;
  const std::string section = all.substr(begin, all.find("\n.SH ", begin + 1) - begin);
  return LongOptions(section, std::regex(R"(\\-\\-([a-z](?:[a-z0-9]|\\-)*))"));
}

TEST(ManPages, DocumentExactlyTheOptionsOfTheirProgram) {
  const std::set<std::string> kv5update = HelpOptions(KV5UPDATE_PATH, {"list", "check", "update"});
  EXPECT_GT(kv5update.size(), 5u);
  EXPECT_EQ(PageOptions("kv5update.1"), kv5update);

  const std::set<std::string> q9unit = HelpOptions(Q9UNIT_PATH, {});
  EXPECT_GT(q9unit.size(), 5u);
  EXPECT_EQ(PageOptions("q9-unit.1"), q9unit);
}

}  // namespace
}  // namespace kv5
