#include <mutex>
#include <new>
#include <vector>

#include "velta/registry.h"

MutexImplementation* NLSMutex::fgImplementation = nullptr;

namespace {

// Records that a later NLS_EncInitialize replaced stay alive until the
// library terminates: another thread may be inside the lock of one.
std::mutex gRecordsLock;
std::vector<MutexImplementation*>& retiredRecords() {
    static std::vector<MutexImplementation*> records;
    return records;
}

// The records this thread locked with, innermost last, so that each guard
// unlocks with the record it locked with even if the current one changed.
const int kMaxNesting = 8;
thread_local MutexImplementation* tLocked[kMaxNesting];
thread_local int tDepth = 0;

MutexImplementation* currentRecord() {
    return __atomic_load_n(&NLSMutex::fgImplementation, __ATOMIC_ACQUIRE);
}

}  // namespace

NLSMutex::NLSMutex() {
    MutexImplementation* record = currentRecord();
    if (tDepth < kMaxNesting) tLocked[tDepth] = record;
    ++tDepth;
    if (record != nullptr && record->lock != nullptr) record->lock(record->context);
}

NLSMutex::~NLSMutex() {
    --tDepth;
    MutexImplementation* record = tDepth < kMaxNesting ? tLocked[tDepth] : currentRecord();
    if (record != nullptr && record->unlock != nullptr) record->unlock(record->context);
}

// Keeps the library's own copy; the record it replaces is kept too, until
// ReleaseImplementation.
void NLSMutex::SetImplementation(const MutexImplementation* implementation) {
    if (implementation == nullptr) return;
    MutexImplementation* copy = new (std::nothrow) MutexImplementation(*implementation);
    if (copy == nullptr) return;
    std::lock_guard<std::mutex> guard(gRecordsLock);
    MutexImplementation* previous = currentRecord();
    if (previous != nullptr) {
        try {
            retiredRecords().push_back(previous);
        } catch (...) {
            delete copy;  // keep the record in use rather than free one a thread may hold
            return;
        }
    }
    __atomic_store_n(&fgImplementation, copy, __ATOMIC_RELEASE);
}

// At termination, when no other thread uses the library.
void NLSMutex::ReleaseImplementation() {
    std::lock_guard<std::mutex> guard(gRecordsLock);
    delete __atomic_exchange_n(&fgImplementation, nullptr, __ATOMIC_ACQ_REL);
    for (MutexImplementation* record : retiredRecords()) delete record;
    retiredRecords().clear();
}
