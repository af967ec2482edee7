#include "tools/kv5update/CommandWords.h"

#include <algorithm>
#include <regex>

namespace kv5 {
namespace {

// The option a token names, in app or (when inCommands) in one of its commands; null if none.
const CLI::Option* FindOption(const CLI::App& app, const std::string& token, bool inCommands) {
  if (token.size() < 2 || token[0] != '-') return nullptr;
  const std::string name = token.substr(0, token.find('='));
  if (const CLI::Option* option = app.get_option_no_throw(name)) return option;
  if (!inCommands) return nullptr;
  for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; })) {
    if (const CLI::Option* option = command->get_option_no_throw(name)) return option;
  }
  return nullptr;
}

bool IsCommandWord(const CLI::App& app, const std::string& token) {
  return !app.get_subcommands([&](const CLI::App* command) { return command->check_name(token); })
              .empty();
}

// How many of the tokens from `at` on are the values of the option token args[at - 1].
size_t ValueCount(const CLI::App& app, const std::vector<std::string>& args, size_t at,
                  const CLI::Option& option, const std::string& token) {
  if (token.find('=') != std::string::npos) return 0;
  const size_t wanted = static_cast<size_t>(std::max(0, option.get_items_expected_max()));
  size_t count = 0;
  while (count < wanted && at + count < args.size() &&
         FindOption(app, args[at + count], true) == nullptr &&
         !IsCommandWord(app, args[at + count])) {
    ++count;
  }
  return std::max(count, std::min<size_t>(wanted, 1));
}

// The first option name ("--backend", "-v") in a text of the parser's.
std::string OptionNameIn(const std::string& text) {
  std::smatch name;
  if (std::regex_search(text, name, std::regex(R"((--?[A-Za-z][A-Za-z0-9-]*))"))) return name[1];
  return {};
}

const CLI::App* ParsedCommand(const CLI::App& app) {
  const auto parsed =
      app.get_subcommands([](const CLI::App* command) { return command->parsed(); });
  return parsed.empty() ? nullptr : parsed.front();
}

}  // namespace

std::vector<std::string> CommandOptionsAfterCommandWord(const CLI::App& app,
                                                        std::vector<std::string> args) {
  std::vector<std::string> moved;
  size_t i = 0;
  while (i < args.size() && args[i] != "--" && !IsCommandWord(app, args[i])) {
    const std::string token = args[i];
    const CLI::Option* own = FindOption(app, token, false);
    const CLI::Option* option = own != nullptr ? own : FindOption(app, token, true);
    const size_t span = option != nullptr ? 1 + ValueCount(app, args, i + 1, *option, token) : 1;
    if (own != nullptr || option == nullptr) {
      i += span;
      continue;
    }
    const auto first = args.begin() + static_cast<std::ptrdiff_t>(i);
    const auto last = first + static_cast<std::ptrdiff_t>(std::min(span, args.size() - i));
    moved.insert(moved.end(), first, last);
    args.erase(first, last);
  }
  if (i < args.size() && args[i] != "--") {
    args.insert(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, moved.begin(), moved.end());
  } else {
    args.insert(args.begin() + static_cast<std::ptrdiff_t>(i), moved.begin(), moved.end());
  }
  return args;
}

std::string CommandNames(const CLI::App& app) {
  std::vector<std::string> names;
  for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; })) {
    names.push_back(command->get_name());
  }
  std::string text;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) text += i + 1 == names.size() ? " and " : ", ";
    text += names[i];
  }
  return text;
}

std::string PlainParseError(const CLI::App& app, const CLI::ParseError& error) {
  const std::string text = error.what();
  const std::string name = OptionNameIn(text);
  if (dynamic_cast<const CLI::ArgumentMismatch*>(&error) != nullptr && !name.empty()) {
    // The values an option takes, as its help shows them; never the parser's own type names.
    const CLI::Option* option = FindOption(app, name, true);
    const std::string values = option != nullptr ? option->get_option_text() : std::string();
    return name + " needs a value" + (values.empty() ? std::string() : ": " + values) + ".";
  }
  if (dynamic_cast<const CLI::ConversionError*>(&error) != nullptr && !name.empty()) {
    return name + " takes a whole number.";
  }
  // Validation errors are "--unit-link: "fast" is not none, usb or din": plain already.
  return text + ".";
}

std::vector<std::string> TokensBeforeCommandWord(const CLI::App& app,
                                                 const std::vector<std::string>& args) {
  size_t i = 0;
  while (i < args.size() && args[i] != "--" && !IsCommandWord(app, args[i])) {
    const CLI::Option* option = FindOption(app, args[i], true);
    i += option != nullptr ? 1 + ValueCount(app, args, i + 1, *option, args[i]) : 1;
  }
  return {args.begin(), args.begin() + static_cast<std::ptrdiff_t>(std::min(i, args.size()))};
}

std::string LeftoverTokensError(const CLI::App& app, const std::string& command,
                                const std::vector<std::string>& beforeCommand) {
  const std::vector<std::string> left = app.remaining(true);
  if (left.empty()) return {};
  const CLI::App* parsed = ParsedCommand(app);
  if (parsed == nullptr) {
    if (left.front().rfind("-", 0) == 0) {
      return left.front() +
             " is not an option of kv5update itself; a command comes first: " + CommandNames(app) +
             ".";
    }
    return "'" + left.front() + "' is not a command of kv5update. The commands are " +
           CommandNames(app) + ".";
  }
  // A word typed before the command word that is neither an option nor a command.
  for (const std::string& token : beforeCommand) {
    if (token.rfind("-", 0) != 0 && std::find(left.begin(), left.end(), token) != left.end()) {
      return "'" + token + "' is not a command of kv5update. The commands are " +
             CommandNames(app) + ".";
    }
  }
  const std::string help = "('kv5update help " + command + "' shows what " + command + " takes)";
  if (left.front().rfind("-", 0) == 0 && left.front().size() > 1) {
    return command + " does not take " + left.front().substr(0, left.front().find('=')) + " " +
           help + ".";
  }
  std::string words;
  for (const std::string& token : left) words += (words.empty() ? "" : " ") + token;
  return "unexpected arguments: " + words + " " + help + ".";
}

}  // namespace kv5
