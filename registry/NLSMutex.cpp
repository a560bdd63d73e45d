#include <new>

#include "velta/registry.h"

MutexImplementation* NLSMutex::fgImplementation = nullptr;

NLSMutex::NLSMutex() {
    if (fgImplementation != nullptr && fgImplementation->lock != nullptr)
        fgImplementation->lock(fgImplementation->context);
}

NLSMutex::~NLSMutex() {
    if (fgImplementation != nullptr && fgImplementation->unlock != nullptr)
        fgImplementation->unlock(fgImplementation->context);
}

// Keeps the library's own copy; a record it replaces is freed.
void NLSMutex::SetImplementation(const MutexImplementation* implementation) {
    if (implementation == nullptr) return;
    MutexImplementation* copy = new (std::nothrow) MutexImplementation(*implementation);
    delete fgImplementation;
    fgImplementation = copy;
}

void NLSMutex::ReleaseImplementation() {
    delete fgImplementation;
    fgImplementation = nullptr;
}
