#include "api/TChainedConverter.h"

#include <new>

TChainedConverter::TChainedConverter(const char* from, const char* to, TEncodingConverter* first,
                                     TEncodingConverter* second)
    : TEncodingConverter(from, to, nullptr, nullptr, nullptr, 0, 2, nullptr, nullptr, 0),
      fIntermediate(nullptr),
      fIntermediateSize(0),
      fSecond(second),
      fFirst(first),
      fIntermediateCapacity(0),
      fIntermediateStart(0),
      fPendingOutcome(NLS_SUCCESS) {}

TChainedConverter::~TChainedConverter() {
    delete[] fIntermediate;
    if (fFirst != nullptr) fFirst->ReleaseEncodingConverter();
    if (fSecond != nullptr) fSecond->ReleaseEncodingConverter();
}

// Drops the waiting text and returns both halves to their initial state.
void TChainedConverter::Reset() {
    fIntermediateSize = 0;
    fIntermediateStart = 0;
    fPendingOutcome = NLS_SUCCESS;
    fFirst->Reset();
    fSecond->Reset();
}

void TChainedConverter::TargetBufferSize(const unsigned char* source, uint32_t sourceLength,
                                         uint32_t* size) {
    if (size == nullptr) return;
    uint32_t intermediate = 0;
    fFirst->TargetBufferSize(source, sourceLength, &intermediate);
    fSecond->TargetBufferSize(source, intermediate, size);
}

bool TChainedConverter::ensureIntermediateCapacity(uint32_t capacity) {
    if (capacity <= fIntermediateCapacity) return true;
    unsigned char* buffer = new (std::nothrow) unsigned char[capacity];
    if (buffer == nullptr) return false;
    delete[] fIntermediate;
    fIntermediate = buffer;
    fIntermediateCapacity = capacity;
    return true;
}

// What the caller must hear once the first stage's text is delivered: its
// error; 2 when input is left that a later call can convert; an incomplete
// sequence when the input cannot progress at all; otherwise success.
NLS_Status TChainedConverter::firstStageOutcome(NLS_Status status, uint32_t consumed,
                                                uint32_t length, uint32_t produced) {
    if (status < 0 && status != NLS_OUTPUT_FULL) return status;
    if (consumed == length) return NLS_SUCCESS;
    if (consumed == 0 && produced == 0) return status < 0 ? status : NLS_SEQUENCE_INCOMPLETE;
    return NLS_RESULT_TRUNCATED;
}

NLS_Status TChainedConverter::Convert(unsigned char* target, uint32_t* targetLength,
                                      uint32_t targetCapacity, const unsigned char* source,
                                      uint32_t sourceLength, uint32_t* sourceConsumed) {
    if (InvalidConvertArguments(target, targetLength, targetCapacity, source, sourceLength,
                                sourceConsumed))
        return NLS_INVALID_PARAMETER;
    *sourceConsumed = 0;
    *targetLength = 0;
    if (fIntermediateSize == 0 && sourceLength != 0) {
        uint32_t capacity = 0;
        fFirst->TargetBufferSize(source, sourceLength, &capacity);
        if (capacity < 4) capacity = 4;
        if (!ensureIntermediateCapacity(capacity)) return NLS_OUT_OF_MEMORY;
        uint32_t produced = 0;
        uint32_t consumed = 0;
        const NLS_Status status =
            fFirst->Convert(fIntermediate, &produced, capacity, source, sourceLength, &consumed);
        if (consumed > sourceLength) consumed = sourceLength;
        if (produced > capacity) produced = capacity;
        *sourceConsumed = consumed;
        fIntermediateStart = 0;
        fIntermediateSize = produced;
        fPendingOutcome = firstStageOutcome(status, consumed, sourceLength, produced);
    }
    uint32_t delivered = 0;
    uint32_t written = 0;
    const unsigned char* waiting =
        fIntermediateSize != 0 ? fIntermediate + fIntermediateStart : nullptr;
    const NLS_Status second =
        fSecond->Convert(target, &written, targetCapacity, waiting, fIntermediateSize, &delivered);
    if (delivered > fIntermediateSize) delivered = fIntermediateSize;
    if (written > targetCapacity) written = targetCapacity;
    *targetLength = written;
    fIntermediateStart += delivered;
    fIntermediateSize -= delivered;
    if (second < 0 && second != NLS_OUTPUT_FULL && second != NLS_SEQUENCE_INCOMPLETE) return second;
    if (fIntermediateSize != 0) return NLS_RESULT_TRUNCATED;
    if (second == NLS_RESULT_TRUNCATED) return NLS_RESULT_TRUNCATED;  // no room for the terminator
    const NLS_Status outcome = fPendingOutcome;
    fPendingOutcome = NLS_SUCCESS;
    return outcome;
}
