// The arguments the window answers without opening: its help and its version. Every other
// argument is left to the toolkit, as before.
#pragma once

#include <optional>
#include <ostream>

namespace kv5 {

// Prints the help (-h, --help) or the version (--version) when the first argument asks for it,
// and gives the exit status; nullopt when the window is to open.
std::optional<int> AnswerInformationArguments(int argc, const char* const* argv, std::ostream& out);

}  // namespace kv5
