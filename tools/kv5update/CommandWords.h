// How the words a user types meet the command-line parser: a command's options typed before the
// command word are moved behind it, and what the parser refuses is said in plain words, in the
// order the user typed it.
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

namespace kv5 {

// The parser takes a command's options only after the command word; a user may also give them
// before it ("kv5update --in 0 --backend jack check"). Those are moved behind the command word;
// a token no command knows is left where it is, for the checks after parsing to name.
std::vector<std::string> CommandOptionsAfterCommandWord(const CLI::App& app,
                                                        std::vector<std::string> args);

// The words for what the parser threw (a missing or refused value, ...).
std::string PlainParseError(const CLI::App& app, const CLI::ParseError& error);

// The tokens typed before the command word (all of them when there is none).
std::vector<std::string> TokensBeforeCommandWord(const CLI::App& app,
                                                 const std::vector<std::string>& args);

// After a parse that let unknown tokens through: what is wrong with them, or "" when every token
// was taken. `command` is the command word given ("" for none); beforeCommand the tokens typed
// before it.
std::string LeftoverTokensError(const CLI::App& app, const std::string& command,
                                const std::vector<std::string>& beforeCommand);

// "list, probe, check, update, verify and help".
std::string CommandNames(const CLI::App& app);

}  // namespace kv5
