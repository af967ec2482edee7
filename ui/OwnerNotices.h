// What the window tells the owner beyond the session's own texts: that a build carries the test
// package (in its title, its ready status line and a question before Execute writes it), and
// what to do after an update failed once the unit may be in its firmware update mode.
#pragma once

#include <string>

namespace kv5 {

inline constexpr const char* kTestPackageTitleSuffix = " (test package)";
inline constexpr const char* kTestPackageReadyText =
    "Test package build: not firmware for a real unit.";
inline constexpr const char* kTestPackageQuestionCaption = "Write the test package?";

// The question before Execute writes the test package: what it is (with the stamps it carries),
// what it does to a real unit, and whether to go on.
std::string TestPackageQuestion();

// Under the error box of an update that failed after the unit may have entered its firmware
// update mode; deviceGone when the session ended because its device went away.
std::string UpdateFailureAdvice(bool deviceGone);

}  // namespace kv5
