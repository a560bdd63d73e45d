// Conversion objects and converter enumerations: the classes behind the
// flat functions.
#ifndef VELTA_ENCODING_CONVERTER_H
#define VELTA_ENCODING_CONVERTER_H

#include <stddef.h>
#include <stdint.h>
#include <atomic>

#include "velta/nls.h"

class TEncodingConverter;
class TEncodingRegistry;
class TStreamConverter;
class TChainedConverter;
namespace velta {
class TOptionTaker;
class TReplacementWriter;
class TSteppedConverter;
enum class Stop : uint8_t;
}  // namespace velta

class VELTA_EXPORT EncodingConverter {
public:
    EncodingConverter(const char* from, const char* to);
    ~EncodingConverter();
    EncodingConverter(const EncodingConverter&) = delete;
    EncodingConverter& operator=(const EncodingConverter&) = delete;

    uint32_t convert(const unsigned char* src, uint32_t srcLen, unsigned char* dst,
                     uint32_t dstLen);
    uint32_t nextBuffer(unsigned char* dst, uint32_t dstLen);
    // One piece of a stream (NLS_ConvertStream).
    NLS_Status stream(const unsigned char* src, uint32_t srcLen, unsigned char* dst,
                      uint32_t dstLen, bool last, uint32_t* read, uint32_t* written);
    NLS_Status setPolicy(int32_t policy);
    NLS_Status setOption(int32_t option, int32_t value);
    NLS_ConversionReport report() const { return fReport; }
    // Bytes of a character that the end of the last stream piece cut short.
    uint32_t carriedInputSize() const { return fCarrySize; }
    // After a stream piece that stopped at a character begun in an earlier
    // piece: its bytes that came before the piece (dropped with the carry).
    uint32_t stopBehindPieceSize() const { return fStopBehindPiece; }
    // Whether a stream piece reads only input whose output it has written
    // (the exact interface); else a chain may read input whose text waits.
    void setExactInput(bool exact) { fExactInput = exact; }
    // Forgets those bytes: a caller that was not told they were read keeps them.
    void dropCarriedInput() { fCarrySize = 0; }
    void reset();
    uint32_t remainderSize();
    uint32_t leftoverSize();
    uint32_t leftover(unsigned char* dst, uint32_t dstLen);
    NLS_Status status();

    // Kept for another object of the same names (see api/spare_objects.h).
    static uint32_t spareSlotOf(const char* from, size_t fromLength, const char* to,
                                size_t toLength);
    uint32_t spareSlot() const { return fSpareSlot; }
    bool madeFor(const char* from, size_t fromLength, const char* to, size_t toLength) const;
    bool madeFromCurrentRegistry() const;
    // As the object was when made; false when it cannot be kept.
    bool renew();

    // Whether a chain of two of the library's converters that can run as
    // one (UTF-8 and a single-byte encoding) does; on unless a test that
    // compares the two turns it off.
    static void setChainFusion(bool fuse);
    static const char* getDataDirectory();
    static void setDataDirectory(const char* directory);
    static NLS_Status initializeEncodingRegistry();
    static void deleteEncodingRegistry();
    static TEncodingRegistry* getEncodingRegistry();
    static void registerStaticLibrary(char* table);
    static uint32_t resultBufferSize(const unsigned char* src, uint32_t srcLen, const char* from,
                                     const char* to);
    static const char* normalizedEncodingName(const char* name);
    // The canonical name of an alias, else the name itself; keeps nothing.
    static const char* resolvedEncodingName(const char* name);
    static const char* normalizedJavaName(const char* javaName);
    static const char* javaEncodingName(const char* name);
    static char exists(const char* from, const char* to);

    // Output bytes reserved per carried-over input byte.
    enum { kOverflowFactor = 7 };

    static const char* const kDefaultConverterPath;

private:
    void findInterfaces();
    void keepGivenNames(const char* from, const char* to);
    void giveOptions();
    short intermidiateCSIDForUnicodeConversion(short csid);
    uint32_t unicodeStringLength(unsigned short* text);
    bool keepRemainder(const unsigned char* src, uint32_t srcLen, uint32_t consumed);
    static TEncodingRegistry* registryOnFirstNeed();

    // A stream keeps the bytes of a character that a piece cut short, and the
    // output that one step made beyond the caller's buffer.
    enum { kJoinedBytes = 64, kHeldCapacity = 64 };
    struct StreamStep {
        NLS_Status status;
        uint32_t consumed;
        uint32_t produced;
        velta::Stop stop;  // why it ended short of its input, where it did
    };
    StreamStep streamStep(const unsigned char* input, uint32_t length, bool ends,
                          unsigned char* dst, uint32_t dstLen, uint32_t* written);
    bool goesStraightOn(uint32_t srcLen, uint32_t dstLen) const;
    NLS_Status streamSteps(const unsigned char* src, uint32_t srcLen, unsigned char* dst,
                           uint32_t dstLen, bool last, uint32_t* read, uint32_t* written,
                           const StreamStep* taken);
    void deliverHeld(unsigned char* dst, uint32_t dstLen, uint32_t* written);
    bool reserveCarry(uint32_t capacity);
    NLS_Status endStream(NLS_Status status);
    NLS_Status endTextWithCut(unsigned char* dst, uint32_t dstLen, uint32_t* written,
                              uint32_t* read, uint32_t srcLen);
    NLS_Status finishTextWithCut(unsigned char* dst, uint32_t dstLen, uint32_t* written);
    uint32_t writeReplacement(unsigned char* out, uint32_t capacity);
    void noteSubstitution(int32_t kind, uint64_t offset);
    void collectReport(uint64_t callStart);
    // Gives the converter the policy that the call in progress applies.
    void givePolicy(int32_t policy);
    // Tells a step-based converter whether the call in progress writes no
    // terminator (a stream), so that it may fill the output to its end.
    void fillOutputToEnd(bool toEnd);
    // Tells the converter whether the end of a call's input ends the text.
    void giveInputEnds(bool ends);
    // What the object does at malformed input (a cut character that ends the
    // text): NLS_POLICY_REPLACE, _SKIP or _STOP, by the policy unless
    // NLS_OPTION_MALFORMED_ACTION chose otherwise.
    int32_t malformedPolicy() const;
    // Whether an action in force stops at something.
    bool mayStop() const;

    NLS_Status fStatus;
    const char* fFromName;
    const char* fToName;
    uint32_t fLeftoverSize;
    unsigned char* fLeftover;
    uint32_t fRemainderSize;
    uint32_t fRemainderStart;
    uint32_t fRemainderCapacity;
    unsigned char* fRemainder;
    TEncodingConverter* fConverter;
    TStreamConverter* fInPieces;  // the converter's piece interface, if it has one
    TChainedConverter* fChain;    // the converter, when it is a chain
    uint32_t fCarrySize;
    uint32_t fCarryCapacity;
    uint32_t fStopBehindPiece;
    bool fExactInput;
    uint32_t fHeldStart;
    uint32_t fHeldSize;
    bool fMayHoldOutput;
    bool fTextEnded;           // the next stream call starts a new text
    bool fEndingWithCut;       // the text ended in a cut character; its closing output is held
    int32_t fHeldFailure;      // met with output still held: returned once that is delivered
    bool fCloseBeforeFailure;  // a chain's text is still to be closed before it
    int32_t fPolicy;
    // The end of a text that a character cut short: what is still to do.
    struct Ending {
        NLS_Status status;
        bool replacementDue;
        bool closingDue;
    };
    Ending fEnding;
    bool fReadsUcs2;                    // the converter reads UCS-2 (an encoder)
    bool fWritesUcs2;                   // the converter writes UCS-2 (a decoder)
    velta::TOptionTaker* fOptionTaker;  // the converter's, found when the object is made
    const velta::TReplacementWriter* fReplacementWriter;  // likewise
    velta::TSteppedConverter* fStepped;                   // likewise: it says why it stopped
    bool fFillingToEnd;    // what the converter was last told: fill outputs to their end
    bool fInputEndsGiven;  // what the converter was last told of the end of its input
    // NLS_SetConversionOption's values, by option number.
    enum { kOptionSlots = 6 };
    int32_t fOptionValues[kOptionSlots];
    bool fPolicyChosen;            // by NLS_SetConversionPolicy: the older functions apply it too
    int32_t fConverterPolicy;      // what the converter was last given
    uint64_t fStreamOffset;        // input bytes the converter consumed in this text
    NLS_ConversionReport fReport;  // of this text
    unsigned char* fCarry;         // owned; grows only for a character longer than kJoinedBytes
    unsigned char fHeld[kHeldCapacity];
    TEncodingRegistry* fRegistry;  // held while the object lives: its converters and names
    enum { kGivenNamesCapacity = 64 };
    char fGivenNames[kGivenNamesCapacity];  // from, NUL, to, NUL; empty where they do not fit
    uint32_t fSpareSlot;
    uint32_t fRegistryStamp[2];  // the registries' tables and libraries when the object was made

    static char* fgConverterPath;
    static std::atomic<TEncodingRegistry*> fgRegistry;
};

class VELTA_EXPORT EncondingConverterList {
public:
    EncondingConverterList(const char* from, const char* to);
    ~EncondingConverterList();
    EncondingConverterList(const EncondingConverterList&) = delete;
    EncondingConverterList& operator=(const EncondingConverterList&) = delete;

    uint32_t count();
    void index(uint32_t index, char* fromName, char* toName);
    NLS_Status status() { return fStatus; }

private:
    NLS_Status fStatus;
    const char* fFromName;
    const char* fToName;
    uint32_t fCount;
    const char** fFromNames;
    const char** fToNames;
    TEncodingRegistry* fRegistry;
};

#endif
