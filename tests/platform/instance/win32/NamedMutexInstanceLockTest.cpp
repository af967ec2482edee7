// The instance lock as a named mutex, within one process: the outcomes of a claim, and the name
// freed when its holder lets go. Names carry the process id, so parallel runs never meet.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>

#include "platform/instance/InstanceLock.h"

#include <windows.h>

namespace kv5 {
namespace {

std::string UniqueName(const char* what) {
  return std::string("kv5 lock test ") + what + " " + std::to_string(GetCurrentProcessId());
}

TEST(NamedMutexInstanceLock, ClaimCreatesFindsTakenAndFreesTheName) {
  const std::string name = UniqueName("claim");
  std::unique_ptr<InstanceLock> first;
  ASSERT_EQ(ClaimInstanceLock(name, &first), ClaimResult::Created);
  ASSERT_NE(first, nullptr);

  // Opening an existing mutex counts as taken, even in the process that holds it; nothing is
  // handed out, and the first holder's mutex stays.
  std::unique_ptr<InstanceLock> second;
  EXPECT_EQ(ClaimInstanceLock(name, &second), ClaimResult::AlreadyExists);
  EXPECT_EQ(second, nullptr);
  HANDLE probe = OpenMutexA(SYNCHRONIZE, FALSE, name.c_str());
  EXPECT_NE(probe, nullptr);
  if (probe != nullptr) CloseHandle(probe);

  // Letting go closes the last handle: the name is free again.
  first.reset();
  EXPECT_EQ(OpenMutexA(SYNCHRONIZE, FALSE, name.c_str()), nullptr);
  EXPECT_EQ(ClaimInstanceLock(name, &second), ClaimResult::Created);
}

TEST(NamedMutexInstanceLock, ANameHeldByAnotherKindOfObjectFails) {
  const std::string name = UniqueName("event");
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, name.c_str());
  ASSERT_NE(event, nullptr);
  std::unique_ptr<InstanceLock> held;
  EXPECT_EQ(ClaimInstanceLock(name, &held), ClaimResult::Failed);
  EXPECT_EQ(held, nullptr);
  CloseHandle(event);
  EXPECT_EQ(ClaimInstanceLock(name, &held), ClaimResult::Created);
}

TEST(NamedMutexInstanceLock, TheMutexIsOwnedByTheClaimingThread) {
  const std::string name = UniqueName("owner");
  std::unique_ptr<InstanceLock> held;
  ASSERT_EQ(ClaimInstanceLock(name, &held), ClaimResult::Created);
  // Created with initial ownership: another thread cannot acquire it while it is held.
  HANDLE other = OpenMutexA(SYNCHRONIZE, FALSE, name.c_str());
  ASSERT_NE(other, nullptr);
  DWORD waited = WAIT_FAILED;
  std::thread([&] { waited = WaitForSingleObject(other, 0); }).join();
  EXPECT_EQ(waited, static_cast<DWORD>(WAIT_TIMEOUT));
  CloseHandle(other);
}

}  // namespace
}  // namespace kv5
