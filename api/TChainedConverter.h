// Two converters joined through UCS-2: source to UCS-2, then UCS-2 to target.
#ifndef VELTA_API_TCHAINEDCONVERTER_H
#define VELTA_API_TCHAINEDCONVERTER_H

#include "velta/converter.h"

// Runs the first converter over a call's whole input into an intermediate
// UCS-2 buffer, then the second from that buffer into the caller's output.
// Text that does not fit waits in the buffer (result 2) and is delivered by
// the following calls, which consume no new input until it is gone. A first
// stage that fails or cannot progress reports its own status once its text
// has been delivered, so a drain loop always ends and nothing is dropped.
class TChainedConverter : public TEncodingConverter {
public:
    TChainedConverter(const char* from, const char* to, TEncodingConverter* first,
                      TEncodingConverter* second);
    ~TChainedConverter() override;
    TChainedConverter(const TChainedConverter&) = delete;
    TChainedConverter& operator=(const TChainedConverter&) = delete;

    void Reset() override;
    void TargetBufferSize(const unsigned char* source, uint32_t sourceLength,
                          uint32_t* size) override;
    NLS_Status Convert(unsigned char* target, uint32_t* targetLength, uint32_t targetCapacity,
                       const unsigned char* source, uint32_t sourceLength,
                       uint32_t* sourceConsumed) override;

private:
    bool ensureIntermediateCapacity(uint32_t capacity);
    static NLS_Status firstStageOutcome(NLS_Status status, uint32_t consumed, uint32_t length,
                                        uint32_t produced);

    unsigned char* fIntermediate;  // owned; reused from call to call
    uint32_t fIntermediateSize;    // bytes of text waiting
    TEncodingConverter* fSecond;
    TEncodingConverter* fFirst;
    uint32_t fIntermediateCapacity;
    uint32_t fIntermediateStart;  // offset of the waiting text
    NLS_Status fPendingOutcome;   // first stage's result, reported once delivered
};

#endif
