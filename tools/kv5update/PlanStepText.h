// The update plan's steps in words, as the console and the support log name them: the component
// a step works on and what it does, found from the step counter's text ("7/10").
#pragma once

#include <string>

namespace kv5 {

// The plan step of a step counter text: 1..10, 0 before the plan ("0/10"); -1 for a counter that
// is not the update plan's (the verify session counts "j/5").
int PlanStepNumber(const std::string& counter);
// "SYSTEM", "SYSTEM info block", ...: the component of plan step 1..10; "" for any other number.
std::string PlanStepComponent(int step);
// "erase PRESET (0x04B000, 0x01B000 bytes)", "write PRESET (110592 bytes at 0x04B000)".
std::string PlanStepAction(int step);
// A step counter and the status line as the console shows them: "[7/10] SYSTEM: Data transmit
// ...". Before step 1 the window shows its erase text while the unit is only asked into its update
// mode; nothing has been erased yet, and the console says what really happens then.
std::string StepLabel(const std::string& counter, const std::string& status);

}  // namespace kv5
