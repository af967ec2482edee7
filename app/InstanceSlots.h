// The twenty numbered instance slots: a copy of the program takes the lowest slot whose lock it
// can create, and keeps that lock for as long as it runs.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/instance/InstanceLock.h"

namespace kv5 {

using ClaimFunction =
    std::function<ClaimResult(const std::string& name, std::unique_ptr<InstanceLock>* held)>;

// Tries the slots 1..20 in ascending order, each under its InstanceTitle. Returns the first slot
// whose lock was created, with the lock in *held; 0 when every slot is taken. A lock that exists
// already or cannot be created counts as a taken slot.
int ClaimFirstFreeSlot(const ClaimFunction& claim, std::unique_ptr<InstanceLock>* held);

// "It is forbidden to launch more than 20 instance of this application."
std::string TooManyInstancesMessage();

}  // namespace kv5
