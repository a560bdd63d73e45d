#include <gtest/gtest.h>

#include <string>

#include "test_support.h"
#include "velta/internals.h"
#include "velta/registry.h"

namespace {

struct LockLog {
    std::string calls;
};

void lockCallback(void* context) {
    static_cast<LockLog*>(context)->calls += "L";
}
void unlockCallback(void* context) {
    static_cast<LockLog*>(context)->calls += "U";
}

class RegistryLock : public velta_test::LibraryTest {};

TEST_F(RegistryLock, GuardWithoutRecordCallsNothing) {
    NLSMutex::ReleaseImplementation();
    { NLSMutex guard; }
    EXPECT_EQ(NLSMutex::fgImplementation, nullptr);
}

TEST_F(RegistryLock, GuardCallsLockThenUnlockWithTheClientsContext) {
    LockLog log;
    MutexImplementation record = {&log, lockCallback, unlockCallback};
    NLSMutex::SetImplementation(&record);
    { NLSMutex guard; }
    EXPECT_EQ(log.calls, "LU");
    NLSMutex::ReleaseImplementation();
    { NLSMutex guard; }
    EXPECT_EQ(log.calls, "LU");
}

TEST_F(RegistryLock, TheRecordIsCopied) {
    LockLog first, second;
    MutexImplementation record = {&first, lockCallback, unlockCallback};
    NLSMutex::SetImplementation(&record);
    record.context = &second;
    { NLSMutex guard; }
    EXPECT_EQ(first.calls, "LU");
    EXPECT_EQ(second.calls, "");
    MutexImplementation replacement = {&second, lockCallback, unlockCallback};
    NLSMutex::SetImplementation(&replacement);
    { NLSMutex guard; }
    EXPECT_EQ(second.calls, "LU");
    NLSMutex::ReleaseImplementation();
}

TEST_F(RegistryLock, InitializationHoldsTheLockAroundBuildingAndReading) {
    LockLog log;
    MutexImplementation record = {&log, lockCallback, unlockCallback};
    ASSERT_EQ(NLS_EncInitialize(&record, nullptr), NLS_SUCCESS);
    // Construction and the reading of the registry files: one pair each.
    EXPECT_EQ(log.calls, "LULU");
    log.calls.clear();
    NLS_GetNormalizedEncodingName("latin1");
    EXPECT_EQ(log.calls, "") << "a known name is found without the lock";
    NLS_GetNormalizedEncodingName("x-never-registered");
    EXPECT_EQ(log.calls, "LU") << "an unknown name is added under the lock";
    NLS_EncTerminate();
    log.calls.clear();
    NLS_GetNormalizedEncodingName("x-other");
    EXPECT_EQ(log.calls, "") << "termination releases the record";
}

}  // namespace
