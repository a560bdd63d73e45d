#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "api/TChainedConverter.h"
#include "api/conversion_limits.h"
#include "api/library_state.h"
#include "api/route_cache.h"
#include "api/spare_objects.h"
#include "codecs/library_codecs.h"
#include "common/conversion_options.h"
#include "common/conversion_policy.h"
#include "linker/platform.h"
#include "velta/encoding_converter.h"
#include "velta/registry.h"

namespace {

const char kWildcardName[] = "*";
const char kEmptyName[] = "";

std::atomic<bool> gChainFusion{true};

const int32_t kDefaultOptionValues[] = {0, 0, -1, -1, NLS_ACTION_REPLACE, '?'};

// The lengths and a few bytes of each name: enough to tell apart the pairs a
// program uses, in constant time once the lengths are known.
uint32_t hashOfNames(const char* from, size_t fromLength, const char* to, size_t toLength) {
    auto byte = [](const char* name, size_t at) {
        return static_cast<uint32_t>(static_cast<unsigned char>(name[at]));
    };
    if (fromLength == 0 || toLength == 0) return 0;
    const uint32_t fromPart = static_cast<uint32_t>(fromLength) ^ byte(from, fromLength / 2) << 4 ^
                              byte(from, fromLength - 1) << 12;
    const uint32_t toPart = static_cast<uint32_t>(toLength) << 8 ^ byte(to, toLength / 2) << 16 ^
                            byte(to, toLength - 1) << 20;
    const uint32_t hash = fromPart ^ toPart;
    return hash ^ hash >> 5 ^ hash >> 11 ^ hash >> 17;
}

}  // namespace

void EncodingConverter::registerStaticLibrary(char* table) {
    if (TEncodingRegistry* registry = registryOnFirstNeed())
        registry->RegisterStaticConverters(table);
}

const char* EncodingConverter::normalizedEncodingName(const char* name) {
    TEncodingRegistry* registry = registryOnFirstNeed();
    if (registry == nullptr) return kEmptyName;
    if (name == nullptr) return kWildcardName;
    return registry->NormalizeEncodingName(name);
}

const char* EncodingConverter::resolvedEncodingName(const char* name) {
    TEncodingRegistry* registry = registryOnFirstNeed();
    if (registry == nullptr) return kEmptyName;
    if (name == nullptr) return kWildcardName;
    return registry->ResolveEncodingName(name);
}

const char* EncodingConverter::normalizedJavaName(const char* javaName) {
    TEncodingRegistry* registry = registryOnFirstNeed();
    if (registry == nullptr) return nullptr;
    if (javaName == nullptr) return kWildcardName;
    return registry->NormalizeJavaEntity(javaName);
}

const char* EncodingConverter::javaEncodingName(const char* name) {
    TEncodingRegistry* registry = registryOnFirstNeed();
    if (registry == nullptr) return nullptr;
    if (name == nullptr) return kWildcardName;
    return registry->FindJavaEntityName(name);
}

char EncodingConverter::exists(const char* from, const char* to) {
    TEncodingRegistry* registry = registryOnFirstNeed();
    if (registry == nullptr) return 0;
    const char* source = registry->ResolveEncodingName(from);
    const char* destination = registry->ResolveEncodingName(to);
    return registry->EnumerateEncodingConverters(source, destination) != 0 ? 1 : 0;
}

uint32_t EncodingConverter::resultBufferSize(const unsigned char* src, uint32_t srcLen,
                                             const char* from, const char* to) {
    if (registryOnFirstNeed() == nullptr) return 0;
    EncodingConverter* object = new (std::nothrow) EncodingConverter(from, to);
    if (object == nullptr) return 0;
    uint32_t size = 0;
    if (object->fConverter != nullptr) object->fConverter->TargetBufferSize(src, srcLen, &size);
    delete object;
    return size;
}

// A direct converter when the registry has one for the exact pair and its
// factory yields an object; otherwise a chain through UCS-2. Names are looked
// up without being kept; the object keeps the names of the entries it used.
EncodingConverter::EncodingConverter(const char* from, const char* to)
    : fStatus(NLS_SUCCESS),
      fFromName(kEmptyName),
      fToName(kEmptyName),
      fLeftoverSize(0),
      fLeftover(nullptr),
      fRemainderSize(0),
      fRemainderStart(0),
      fRemainderCapacity(0),
      fRemainder(nullptr),
      fConverter(nullptr),
      fInPieces(nullptr),
      fChain(nullptr),
      fCarrySize(0),
      fCarryCapacity(0),
      fStopBehindPiece(0),
      fExactInput(false),
      fHeldStart(0),
      fHeldSize(0),
      fMayHoldOutput(false),
      fTextEnded(false),
      fEndingWithCut(false),
      fHeldFailure(NLS_SUCCESS),
      fCloseBeforeFailure(false),
      fPolicy(NLS_POLICY_REPLACE),
      fEnding{NLS_SUCCESS, false, false},
      fReadsUcs2(false),
      fWritesUcs2(false),
      fOptionTaker(nullptr),
      fReplacementWriter(nullptr),
      fStepped(nullptr),
      fFillingToEnd(false),
      fInputEndsGiven(true),
      fOptionValues{},
      fPolicyChosen(false),
      fConverterPolicy(NLS_POLICY_REPLACE),
      fStreamOffset(0),
      fReport{0, NLS_NO_SUBSTITUTION, 0},
      fCarry(nullptr),
      fRegistry(velta::holdRegistry()),
      fGivenNames{},
      fSpareSlot(0),
      fRegistryStamp{} {
    static_assert(sizeof kDefaultOptionValues == sizeof fOptionValues, "one default an option");
    memcpy(fOptionValues, kDefaultOptionValues, sizeof fOptionValues);
    keepGivenNames(from, to);
    TEncodingRegistry* registry = fRegistry;
    if (registry == nullptr) {
        fStatus = NLS_CONVERTER_NOT_FOUND;
        return;
    }
    const velta::RegistryStamp stamp = velta::currentStamp();  // before the route is found
    fRegistryStamp[0] = stamp.tableChanges;
    fRegistryStamp[1] = stamp.unloads;
    velta::ConversionRoute route;
    velta::findRoute(registry, from, to, &route);
    NLS_Status failure = NLS_SUCCESS;  // NLS_OUT_OF_MEMORY when that is why a converter failed
    if (TEncodingEntry* direct = route.direct) {
        fConverter = velta::makeConverter(registry, direct, route.directFactory, &failure);
        fFromName = direct->fSourceName;
        fToName = direct->fDestinationName;
    }
    if (fConverter == nullptr) {
        TEncodingEntry* toPivot = route.toPivot;
        TEncodingEntry* fromPivot = route.fromPivot;
        if (toPivot == nullptr || fromPivot == nullptr) {
            fStatus = failure == NLS_OUT_OF_MEMORY ? NLS_OUT_OF_MEMORY : NLS_CONVERTER_NOT_FOUND;
            return;
        }
        fFromName = toPivot->fSourceName;
        fToName = fromPivot->fDestinationName;
        failure = NLS_SUCCESS;
        TEncodingConverter* first =
            velta::makeConverter(registry, toPivot, route.toPivotFactory, &failure);
        if (first == nullptr) {
            fStatus = failure == NLS_OUT_OF_MEMORY ? NLS_OUT_OF_MEMORY : NLS_NO_SOURCE_CONVERTER;
            return;
        }
        TEncodingConverter* second =
            velta::makeConverter(registry, fromPivot, route.fromPivotFactory, &failure);
        if (second == nullptr) {
            first->ReleaseEncodingConverter();
            fStatus = failure == NLS_OUT_OF_MEMORY ? NLS_OUT_OF_MEMORY : NLS_NO_TARGET_CONVERTER;
            return;
        }
        if (gChainFusion.load(std::memory_order_relaxed))
            fConverter = velta::fuseChain(first, second);
        if (fConverter != nullptr) {
            fStatus = fConverter->GetStatus();
            findInterfaces();
            return;
        }
        fChain = new (std::nothrow) TChainedConverter(fFromName, fToName, first, second);
        if (fChain == nullptr) {
            first->ReleaseEncodingConverter();
            second->ReleaseEncodingConverter();
            fStatus = NLS_OUT_OF_MEMORY;
            return;
        }
        fConverter = fChain;
    }
    fStatus = fConverter->GetStatus();
    findInterfaces();
}

void EncodingConverter::setChainFusion(bool fuse) {
    gChainFusion.store(fuse, std::memory_order_relaxed);
    velta::deleteSpareObjects();  // they were made the other way
}

void EncodingConverter::keepGivenNames(const char* from, const char* to) {
    if (from == nullptr || to == nullptr) return;
    const size_t fromLength = strlen(from);
    const size_t toLength = strlen(to);
    fSpareSlot = hashOfNames(from, fromLength, to, toLength);
    if (fromLength + toLength + 2 > sizeof fGivenNames) return;
    memcpy(fGivenNames, from, fromLength + 1);
    memcpy(fGivenNames + fromLength + 1, to, toLength + 1);
}

uint32_t EncodingConverter::spareSlotOf(const char* from, size_t fromLength, const char* to,
                                        size_t toLength) {
    return hashOfNames(from, fromLength, to, toLength);
}

bool EncodingConverter::madeFor(const char* from, size_t fromLength, const char* to,
                                size_t toLength) const {
    if (fromLength + toLength + 2 > sizeof fGivenNames) return false;
    return memcmp(fGivenNames, from, fromLength + 1) == 0 &&
           memcmp(fGivenNames + fromLength + 1, to, toLength + 1) == 0;
}

bool EncodingConverter::madeFromCurrentRegistry() const {
    if (fRegistry == nullptr || fRegistry != fgRegistry.load(std::memory_order_acquire))
        return false;
    const velta::RegistryStamp stamp = velta::currentStamp();
    return stamp.tableChanges == fRegistryStamp[0] && stamp.unloads == fRegistryStamp[1];
}

// What a text, a policy or an option left in the object goes; the buffers a
// long text grew go too, so a kept object holds no more than a new one.
bool EncodingConverter::renew() {
    if (fConverter == nullptr || fGivenNames[0] == '\0' || !madeFromCurrentRegistry()) return false;
    reset();
    if (fRemainder != nullptr) {
        free(fRemainder);
        fRemainder = nullptr;
        fRemainderCapacity = fRemainderStart = 0;
    }
    if (fCarry != nullptr) {
        free(fCarry);
        fCarry = nullptr;
        fCarryCapacity = 0;
    }
    fStopBehindPiece = fHeldStart = 0;
    fExactInput = false;
    fEnding = {NLS_SUCCESS, false, false};
    if (fPolicyChosen || fPolicy != NLS_POLICY_REPLACE ||
        memcmp(fOptionValues, kDefaultOptionValues, sizeof fOptionValues) != 0) {
        fPolicy = NLS_POLICY_REPLACE;
        fPolicyChosen = false;
        memcpy(fOptionValues, kDefaultOptionValues, sizeof fOptionValues);
        giveOptions();
    }
    return true;
}

void EncodingConverter::findInterfaces() {
    fReadsUcs2 = strcmp(fFromName, NLS_UCS2_NAME) == 0;
    fWritesUcs2 = strcmp(fToName, NLS_UCS2_NAME) == 0;
    if (fChain != nullptr) {  // the chain's interfaces, without a cast
        fInPieces = fChain;
        fOptionTaker = fChain;
    } else {
        const velta::ConverterInterfaces interfaces = velta::interfacesOf(fConverter);
        fInPieces = interfaces.pieces;
        fOptionTaker = interfaces.taker;
        fReplacementWriter = interfaces.replacement;
        fStepped = interfaces.stepped;
    }
    fFillingToEnd = false;
    if (fInPieces != nullptr) fInPieces->SetInputEnds(true);
    fInputEndsGiven = true;
}

EncodingConverter::~EncodingConverter() {
    if (fConverter != nullptr) fConverter->ReleaseEncodingConverter();
    free(fLeftover);
    free(fRemainder);
    free(fCarry);
    velta::releaseRegistry(fRegistry);  // after the converter: its code may be the registry's
}

bool EncodingConverter::reserveCarry(uint32_t capacity) {
    if (capacity <= fCarryCapacity) return true;
    unsigned char* carry = static_cast<unsigned char*>(realloc(fCarry, capacity));
    if (carry == nullptr) return false;
    fCarry = carry;
    fCarryCapacity = capacity;
    return true;
}

// Keeps the unconsumed tail of the input; the buffer is reused while it is
// large enough. When the input is the kept tail itself (from nextBuffer), the
// tail only moves on, so a drain in small outputs stays linear.
bool EncodingConverter::keepRemainder(const unsigned char* src, uint32_t srcLen,
                                      uint32_t consumed) {
    const uint32_t size = srcLen - consumed;
    if (fRemainder != nullptr && src == fRemainder + fRemainderStart) {
        fRemainderStart = size != 0 ? fRemainderStart + consumed : 0;
        fRemainderSize = size;
        return true;
    }
    fRemainderStart = 0;
    if (size == 0) {
        fRemainderSize = 0;
        return true;
    }
    if (size <= fRemainderCapacity) {
        memmove(fRemainder, src + consumed, size);
    } else {
        unsigned char* buffer = static_cast<unsigned char*>(malloc(size));
        if (buffer == nullptr) {
            fRemainderSize = 0;
            return false;
        }
        memcpy(buffer, src + consumed, size);
        free(fRemainder);
        fRemainder = buffer;
        fRemainderCapacity = size;
    }
    fRemainderSize = size;
    return true;
}

uint32_t EncodingConverter::convert(const unsigned char* src, uint32_t srcLen, unsigned char* dst,
                                    uint32_t dstLen) {
    if (fConverter == nullptr) {
        fStatus = NLS_NO_CONVERTER;
        return 0;
    }
    if ((src == nullptr && srcLen != 0) || (dst == nullptr && dstLen != 0)) {
        fStatus = NLS_INVALID_PARAMETER;
        return 0;
    }
    uint32_t produced = 0;
    uint32_t consumed = 0;
    givePolicy(fPolicyChosen ? fPolicy : static_cast<int32_t>(velta::kPolicyAsBefore));
    fillOutputToEnd(false);
    giveInputEnds(true);
    if (fChain != nullptr) fChain->SetUndelivered(TChainedConverter::Undelivered::kWaits);
    NLS_Status status = fConverter->Convert(dst, &produced, dstLen, src, srcLen, &consumed);
    if (consumed > srcLen) consumed = srcLen;
    collectReport(fStreamOffset);
    fStreamOffset += consumed;
    if (produced > dstLen) produced = dstLen;
    // A converter that, given the room the overflow protocol promises, neither
    // consumes nor produces can never finish this input: it is incomplete.
    if (status == NLS_RESULT_TRUNCATED && consumed == 0 && produced == 0 && srcLen != 0 &&
        static_cast<uint64_t>(dstLen) >= static_cast<uint64_t>(kOverflowFactor) * srcLen)
        status = NLS_SEQUENCE_INCOMPLETE;
    fStatus = status;
    if (!keepRemainder(src, srcLen, consumed)) fStatus = NLS_OUT_OF_MEMORY;
    return produced;
}

uint32_t EncodingConverter::nextBuffer(unsigned char* dst, uint32_t dstLen) {
    if (dst == nullptr || dstLen == 0) {
        fStatus = NLS_INVALID_PARAMETER;
        return 0;
    }
    return convert(fRemainder + fRemainderStart, fRemainderSize, dst, dstLen);
}

// Adds what the converter met in one call; its offsets are from the call's
// input, which starts `callStart` bytes into the text.
void EncodingConverter::collectReport(uint64_t callStart) {
    if (fInPieces == nullptr) return;
    uint32_t count = 0;
    int32_t kind = NLS_NO_SUBSTITUTION;
    int64_t offset = 0;
    fInPieces->TakeReport(&count, &kind, &offset);
    fReport.substituted += count;
    if (kind == NLS_NO_SUBSTITUTION) return;
    // The first in the text: a chain reports a character it carried from an
    // earlier call (a high surrogate waiting for its pair) only once the
    // next input decides it, after what it met further on.
    const int64_t absolute = static_cast<int64_t>(callStart) + offset;
    const uint64_t at = absolute > 0 ? static_cast<uint64_t>(absolute) : 0;
    if (fReport.firstKind == NLS_NO_SUBSTITUTION || at < fReport.firstOffset) {
        fReport.firstKind = kind;
        fReport.firstOffset = at;
    }
}

NLS_Status EncodingConverter::setPolicy(int32_t policy) {
    if (policy < NLS_POLICY_REPLACE || policy > NLS_POLICY_TRANSLITERATE)
        return NLS_INVALID_PARAMETER;
    fPolicy = policy;
    fPolicyChosen = true;
    fOptionValues[NLS_OPTION_MALFORMED_ACTION] = -1;
    fOptionValues[NLS_OPTION_UNMAPPABLE_ACTION] = -1;
    giveOptions();
    givePolicy(policy);
    return NLS_SUCCESS;
}

namespace {

bool validOptionValue(int32_t option, int32_t value) {
    switch (option) {
        case NLS_OPTION_STRICT_UNICODE:
            return value == 0 || value == 1;
        case NLS_OPTION_MALFORMED_ACTION:
        case NLS_OPTION_TRANSLITERATION_FALLBACK:
            return value == NLS_ACTION_REPLACE || value == NLS_ACTION_STOP ||
                   value == NLS_ACTION_SKIP;
        case NLS_OPTION_UNMAPPABLE_ACTION:
            return value >= NLS_ACTION_REPLACE && value <= NLS_ACTION_SUBSTITUTE;
        case NLS_OPTION_SUBSTITUTE_CHARACTER:
            return value > 0 && value <= 0x10FFFF && !(value >= 0xD800 && value <= 0xDFFF);
        default:
            return false;
    }
}

velta::Action actionOfValue(int32_t value) {
    static const velta::Action kActions[] = {velta::Action::kReplace,
                                             velta::Action::kStop,
                                             velta::Action::kSkip,
                                             velta::Action::kTransliterate,
                                             velta::Action::kEscapeXmlDecimal,
                                             velta::Action::kEscapeXmlHex,
                                             velta::Action::kEscapeUnicode,
                                             velta::Action::kSubstitute};
    return value < 0 ? velta::Action::kFromPolicy : kActions[value];
}

}  // namespace

NLS_Status EncodingConverter::setOption(int32_t option, int32_t value) {
    if (!validOptionValue(option, value)) return NLS_INVALID_PARAMETER;
    fOptionValues[option] = value;
    giveOptions();
    return NLS_SUCCESS;
}

void EncodingConverter::giveOptions() {
    velta::ConversionOptions options;
    options.strictUnicode = fOptionValues[NLS_OPTION_STRICT_UNICODE] != 0;
    options.malformed = actionOfValue(fOptionValues[NLS_OPTION_MALFORMED_ACTION]);
    options.unmappable = actionOfValue(fOptionValues[NLS_OPTION_UNMAPPABLE_ACTION]);
    options.fallback = actionOfValue(fOptionValues[NLS_OPTION_TRANSLITERATION_FALLBACK]);
    options.substitute = static_cast<uint32_t>(fOptionValues[NLS_OPTION_SUBSTITUTE_CHARACTER]);
    if (fOptionTaker != nullptr) fOptionTaker->TakeOptions(options);
}

int32_t EncodingConverter::malformedPolicy() const {
    switch (fOptionValues[NLS_OPTION_MALFORMED_ACTION]) {
        case NLS_ACTION_STOP:
            return NLS_POLICY_STOP;
        case NLS_ACTION_SKIP:
            return NLS_POLICY_SKIP;
        case NLS_ACTION_REPLACE:
            return NLS_POLICY_REPLACE;
        default:
            return fPolicy == NLS_POLICY_STOP || fPolicy == NLS_POLICY_SKIP ? fPolicy
                                                                            : NLS_POLICY_REPLACE;
    }
}

bool EncodingConverter::mayStop() const {
    const int32_t unmappable = fOptionValues[NLS_OPTION_UNMAPPABLE_ACTION];
    return malformedPolicy() == NLS_POLICY_STOP || unmappable == NLS_ACTION_STOP ||
           (unmappable < 0 && fPolicy == NLS_POLICY_STOP) ||
           fOptionValues[NLS_OPTION_TRANSLITERATION_FALLBACK] == NLS_ACTION_STOP;
}

void EncodingConverter::givePolicy(int32_t policy) {
    if (fInPieces == nullptr || policy == fConverterPolicy) return;
    fInPieces->SetPolicy(policy);
    fConverterPolicy = policy;
}

void EncodingConverter::fillOutputToEnd(bool toEnd) {
    if (fStepped == nullptr || toEnd == fFillingToEnd) return;
    fStepped->FillOutputToEnd(toEnd);
    fFillingToEnd = toEnd;
}

void EncodingConverter::giveInputEnds(bool ends) {
    if (fInPieces == nullptr || ends == fInputEndsGiven) return;
    fInPieces->SetInputEnds(ends);
    fInputEndsGiven = ends;
}

void EncodingConverter::deliverHeld(unsigned char* dst, uint32_t dstLen, uint32_t* written) {
    uint32_t count = dstLen - *written;
    if (count > fHeldSize) count = fHeldSize;
    if (count != 0) memcpy(dst + *written, fHeld + fHeldStart, count);
    *written += count;
    fHeldStart += count;
    fHeldSize -= count;
}

// Converts straight into the caller's buffer while it has room for any
// character; the last few bytes of it are filled from a step into the held
// buffer, so that an output of exactly the right size completes. Inlined:
// its call and frame were a fifteenth of what a stream's piece of 4 KB
// costs beyond its text.
__attribute__((always_inline)) inline EncodingConverter::StreamStep EncodingConverter::streamStep(
    const unsigned char* input, uint32_t length, bool ends, unsigned char* dst, uint32_t dstLen,
    uint32_t* written) {
    givePolicy(fPolicy);
    fillOutputToEnd(true);
    giveInputEnds(ends);
    // Where a stop may come, its input position is owed: a chain then gives
    // back what it could not deliver, so that the stop is met in this call's
    // input. Elsewhere the pivot text waits, its input read.
    if (fChain != nullptr)
        fChain->SetUndelivered(fExactInput || mayStop()
                                   ? TChainedConverter::Undelivered::kGivenBack
                                   : TChainedConverter::Undelivered::kWaitsInStream);
    const uint32_t room = dstLen - *written;
    const bool direct = room >= kHeldCapacity;
    unsigned char* target = direct ? dst + *written : fHeld;
    const uint32_t capacity = direct ? room : static_cast<uint32_t>(kHeldCapacity);
    // The counts come back through locals and the result is made of them at
    // the end: a result that the converter wrote into field by field was
    // read back whole, a stalled load on every call.
    uint32_t produced = 0, consumed = 0;
    const NLS_Status status = fConverter->Convert(target, &produced, capacity,
                                                  length != 0 ? input : nullptr, length, &consumed);
    if (consumed > length) consumed = length;
    collectReport(fStreamOffset);
    fStreamOffset += consumed;
    if (produced > capacity) produced = capacity;
    const velta::Stop stop = consumed < length
                                 ? velta::stopShortOfInput(fStepped, status, capacity, produced)
                                 : velta::Stop::kInputUsed;
    if (direct) {
        *written += produced;
    } else {
        fHeldStart = 0;
        fHeldSize = produced;
        deliverHeld(dst, dstLen, written);
    }
    return {status, consumed, produced, stop};
}

// The text ends inside a character: its bytes from `fStreamOffset` on (or,
// in a chain, a high surrogate that no low one follows). Under the stop
// policy that is -1304 with those bytes unread; under the others it is
// malformed input like any other: the target's replacement (U+FFFD, "?") or
// nothing, counted in the report, and the text ends. What is open (a UTF-7
// run) is closed after it.
NLS_Status EncodingConverter::endTextWithCut(unsigned char* dst, uint32_t dstLen, uint32_t* written,
                                             uint32_t* read, uint32_t srcLen) {
    fEndingWithCut = true;
    fEnding = {NLS_SEQUENCE_INCOMPLETE, false, true};
    const int32_t policy = malformedPolicy();
    if (policy != NLS_POLICY_STOP) {
        *read = srcLen;
        noteSubstitution(NLS_MALFORMED_INPUT, fStreamOffset);
        if (fChain != nullptr) fChain->DropWaitingHighSurrogate();
        fEnding = {NLS_SUCCESS, policy == NLS_POLICY_REPLACE, true};
    }
    return finishTextWithCut(dst, dstLen, written);
}

// The steps of the end of such a text, each once, whatever the output
// takes: the replacement, then the closing of what is open, then the status.
NLS_Status EncodingConverter::finishTextWithCut(unsigned char* dst, uint32_t dstLen,
                                                uint32_t* written) {
    for (;;) {
        deliverHeld(dst, dstLen, written);
        if (fHeldSize != 0) {
            fMayHoldOutput = true;
            return fStatus = NLS_RESULT_TRUNCATED;
        }
        if (fEnding.replacementDue) {
            fEnding.replacementDue = false;
            fHeldStart = 0;
            fHeldSize = writeReplacement(fHeld, kHeldCapacity);
        } else if (fEnding.closingDue) {
            fEnding.closingDue = false;
            streamStep(nullptr, 0, true, dst, dstLen, written);
        } else {
            return endStream(fEnding.status);
        }
    }
}

// U+FFFD as the target writes it where the text stands now: a decoder's
// unit, or what the encoder (a chain's second stage) makes of it.
uint32_t EncodingConverter::writeReplacement(unsigned char* out, uint32_t capacity) {
    const uint16_t replacement = 0xFFFD;
    unsigned char unit[2];
    memcpy(unit, &replacement, 2);
    if (fChain != nullptr) return fChain->ConvertPivotText(unit, 2, out, capacity);
    if (fWritesUcs2) {
        memcpy(out, unit, 2);
        return 2;
    }
    if (fReplacementWriter != nullptr) return fReplacementWriter->WriteReplacement(out, capacity);
    if (!fReadsUcs2) return 0;
    giveInputEnds(false);
    uint32_t produced = 0;
    uint32_t consumed = 0;
    fConverter->Convert(out, &produced, capacity, unit, 2, &consumed);
    if (fInPieces != nullptr) {
        uint32_t count = 0;  // U+FFFD stands for what was counted already
        int32_t kind = NLS_NO_SUBSTITUTION;
        int64_t offset = 0;
        fInPieces->TakeReport(&count, &kind, &offset);
    }
    return produced < capacity ? produced : capacity;
}

void EncodingConverter::noteSubstitution(int32_t kind, uint64_t offset) {
    ++fReport.substituted;
    if (fReport.firstKind == NLS_NO_SUBSTITUTION || offset < fReport.firstOffset) {
        fReport.firstKind = kind;
        fReport.firstOffset = offset;
    }
}

// A stream that ends leaves nothing inside: the converter starts afresh.
NLS_Status EncodingConverter::endStream(NLS_Status status) {
    fCarrySize = 0;
    fMayHoldOutput = false;
    fEndingWithCut = false;
    fHeldFailure = NLS_SUCCESS;
    fCloseBeforeFailure = false;
    fTextEnded = true;
    fConverter->Reset();
    giveInputEnds(true);
    return fStatus = status;
}

// Each step converts the carried bytes joined by the next bytes of the piece,
// or the rest of the piece, or (to drain output a converter holds, and to end
// the text when `last`) nothing. The converter stops for one of three
// reasons, told apart by what it consumed and the room it left: the output is
// full (go on, or return 2), a character is cut at the end of the step's input
// (carry it, or with `last` report -1304), or a failure.
NLS_Status EncodingConverter::stream(const unsigned char* src, uint32_t srcLen, unsigned char* dst,
                                     uint32_t dstLen, bool last, uint32_t* read,
                                     uint32_t* written) {
    *read = 0;
    *written = 0;
    fStopBehindPiece = 0;
    if (fConverter == nullptr) return fStatus = NLS_NO_CONVERTER;
    if ((src == nullptr && srcLen != 0) || (dst == nullptr && dstLen != 0))
        return fStatus = NLS_INVALID_PARAMETER;
    if (goesStraightOn(srcLen, dstLen)) {
        // Most pieces: one step straight into the caller's buffer reads the
        // whole piece or fills the buffer, and that decides the call.
        const StreamStep step = streamStep(src, srcLen, last, dst, dstLen, written);
        if (!velta::isHardFailure(step.status) && step.consumed < srcLen &&
            step.stop == velta::Stop::kOutputFull && step.consumed + step.produced != 0 &&
            *written == dstLen) {
            *read = step.consumed;
            fMayHoldOutput = true;
            return fStatus = NLS_RESULT_TRUNCATED;
        }
        if (step.status == NLS_SUCCESS && step.consumed == srcLen && !last && !fMayHoldOutput) {
            *read = srcLen;
            return fStatus = NLS_SUCCESS;
        }
        return streamSteps(src, srcLen, dst, dstLen, last, read, written, &step);
    }
    if (fTextEnded) {
        fTextEnded = false;
        fStreamOffset = 0;
        fReport = {0, NLS_NO_SUBSTITUTION, 0};
    }
    deliverHeld(dst, dstLen, written);
    if (fEndingWithCut) return finishTextWithCut(dst, dstLen, written);
    if (fHeldFailure != NLS_SUCCESS) {
        if (fHeldSize == 0 && fCloseBeforeFailure) {
            fCloseBeforeFailure = false;
            streamStep(nullptr, 0, true, dst, dstLen, written);
        }
        if (fHeldSize != 0) return fStatus = NLS_RESULT_TRUNCATED;
        const NLS_Status failure = fHeldFailure;
        fHeldFailure = NLS_SUCCESS;
        fMayHoldOutput = false;
        return fStatus = failure;
    }
    return streamSteps(src, srcLen, dst, dstLen, last, read, written, nullptr);
}

// Nothing carried, held or owed, and room for any character: a piece that
// goes on with the text, its first step straight into the caller's buffer.
bool EncodingConverter::goesStraightOn(uint32_t srcLen, uint32_t dstLen) const {
    return srcLen != 0 && dstLen >= kHeldCapacity && fCarrySize == 0 && fHeldSize == 0 &&
           !fTextEnded && !fEndingWithCut && fHeldFailure == NLS_SUCCESS;
}

// The steps of a piece, the first of them `taken` already where not null.
NLS_Status EncodingConverter::streamSteps(const unsigned char* src, uint32_t srcLen,
                                          unsigned char* dst, uint32_t dstLen, bool last,
                                          uint32_t* read, uint32_t* written,
                                          const StreamStep* taken) {
    bool drain = fMayHoldOutput || last;
    uint32_t position = 0;
    for (;; taken = nullptr) {
        bool carried = false;
        uint32_t appended = 0;
        uint32_t length = srcLen;
        bool ends = last;
        StreamStep step;
        if (taken != nullptr) {
            step = *taken;
        } else {
            if (fHeldSize != 0 || (*written == dstLen && position < srcLen)) {
                *read = position;
                fMayHoldOutput = true;
                return fStatus = NLS_RESULT_TRUNCATED;
            }
            carried = fCarrySize != 0;
            if (position == srcLen && !drain && !(last && carried)) break;
            if (carried) {
                appended = srcLen - position;
                if (appended > fCarryCapacity - fCarrySize) appended = fCarryCapacity - fCarrySize;
                if (appended != 0) memcpy(fCarry + fCarrySize, src + position, appended);
                fCarrySize += appended;
                position += appended;
            }
            const unsigned char* input = carried ? fCarry : src + position;
            length = carried ? fCarrySize : srcLen - position;
            ends = last && (!carried || position == srcLen);
            step = streamStep(input, length, ends, dst, dstLen, written);
        }
        if (carried) {
            fCarrySize -= step.consumed;
            memmove(fCarry, fCarry + step.consumed, fCarrySize);
            if (fCarrySize <= appended) {  // what is left is the piece's own again
                position -= fCarrySize;
                fCarrySize = 0;
            }
        } else {
            position += step.consumed;
        }
        const bool emptyStep = length == 0;
        // A converter that does not speak in steps may say that its input
        // was invalid where it replaced it and went on: the report says so.
        // (One that does returns that status only where it stopped.)
        if (step.status == NLS_INVALID_INPUT && fStepped == nullptr &&
            malformedPolicy() == NLS_POLICY_REPLACE)
            step.status = step.consumed == length ? NLS_SUCCESS : NLS_RESULT_TRUNCATED;
        if (velta::isHardFailure(step.status) &&
            !(emptyStep && step.status == NLS_INVALID_PARAMETER)) {
            // A stop in carried bytes: the bytes of this piece that the
            // carry holds are not read, and the carry goes with the text
            // that stopped (a last call after it does not meet it again).
            if (fCarrySize != 0) {
                const uint32_t ofThisPiece = fCarrySize < position ? fCarrySize : position;
                position -= ofThisPiece;
                fStopBehindPiece = fCarrySize - ofThisPiece;
                fCarrySize = 0;
            }
            *read = position;
            // What came before it goes out first, a chain's open UTF-7 run
            // closed; the next call returns the failure (the converter may
            // have ended its text, so it is not met again). A character the
            // target lacks is met after the target wrote all that precedes
            // it: its state stays as it is (ISO-2022-JP in its mode), for the
            // end of the text to close, as a direct converter's does.
            const bool closes = fChain != nullptr && step.status != NLS_UNMAPPABLE;
            const bool closeNow = fHeldSize == 0 && closes;
            if (closeNow) streamStep(nullptr, 0, true, dst, dstLen, written);
            if (fHeldSize != 0) {
                fMayHoldOutput = true;
                fHeldFailure = step.status;
                fCloseBeforeFailure = closes && !closeNow;
                return fStatus = NLS_RESULT_TRUNCATED;
            }
            return fStatus = step.status;
        }
        if (step.consumed == length) {
            if (emptyStep && step.produced == 0) drain = false;
            if (step.status == NLS_RESULT_TRUNCATED || step.status == NLS_OUTPUT_FULL) drain = true;
            if (step.status == NLS_SEQUENCE_INCOMPLETE && ends) {
                *read = position;
                return endTextWithCut(dst, dstLen, written, read, srcLen);
            }
            continue;
        }
        if (step.stop == velta::Stop::kOutputFull && step.consumed + step.produced != 0) continue;
        // A character cut by the end of the step's input.
        if (carried && fCarrySize == 0 && position < srcLen) continue;  // the piece goes on
        if (ends) {
            *read = position - (fCarrySize != 0 ? appended : 0);
            return endTextWithCut(dst, dstLen, written, read, srcLen);
        }
        if (fCarrySize == 0) {
            const uint32_t left = srcLen - position;
            if (!reserveCarry(left + kJoinedBytes)) {
                *read = position;
                return fStatus = NLS_OUT_OF_MEMORY;
            }
            memcpy(fCarry, src + position, left);
            fCarrySize = left;
            position = srcLen;
        } else if (position < srcLen && !reserveCarry(2 * fCarryCapacity)) {
            // A cut character longer than the carry so far ("\\uuu...u"): it grows.
            *read = position;
            return fStatus = NLS_OUT_OF_MEMORY;
        }
        drain = drain && last;
    }
    *read = position;
    fMayHoldOutput = false;
    if (last) return endStream(NLS_SUCCESS);
    return fStatus = NLS_SUCCESS;
}

void EncodingConverter::reset() {
    fLeftoverSize = 0;
    fRemainderSize = 0;
    fCarrySize = 0;
    fHeldSize = 0;
    fMayHoldOutput = false;
    fTextEnded = false;
    fEndingWithCut = false;
    fHeldFailure = NLS_SUCCESS;
    fCloseBeforeFailure = false;
    fStreamOffset = 0;
    fReport = {0, NLS_NO_SUBSTITUTION, 0};
    if (fConverter != nullptr) fConverter->Reset();
    fStatus = NLS_SUCCESS;
}

uint32_t EncodingConverter::remainderSize() {
    fStatus = NLS_SUCCESS;
    return fRemainderSize;
}

uint32_t EncodingConverter::leftoverSize() {
    fStatus = NLS_SUCCESS;
    return fLeftoverSize;
}

uint32_t EncodingConverter::leftover(unsigned char* dst, uint32_t dstLen) {
    const uint32_t size = fLeftoverSize;
    if (size != 0 && dst != nullptr && fLeftover != nullptr)
        memcpy(dst, fLeftover, size < dstLen ? size : dstLen);
    fLeftoverSize = 0;
    if (size > dstLen) {
        fStatus = NLS_RESULT_TRUNCATED;
        return dstLen;
    }
    fStatus = NLS_SUCCESS;
    return size;
}

NLS_Status EncodingConverter::status() {
    return fStatus;
}

short EncodingConverter::intermidiateCSIDForUnicodeConversion(short csid) {
    if (csid == 515) return 260;
    if (csid == 525) return 1292;
    return 0;
}

uint32_t EncodingConverter::unicodeStringLength(unsigned short* text) {
    uint32_t length = 0;
    while (text != nullptr && text[length] != 0) ++length;
    return length;
}
