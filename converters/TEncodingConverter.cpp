#include <string.h>

#include <atomic>

#include "common/step_shell.h"
#include "linker/platform.h"
#include "velta/converter.h"

namespace {

std::atomic<void*> gLibraryModule{nullptr};

}  // namespace

// Asks the platform while the handle is still unknown; the answer is stable.
void* TEncodingConverter::LibraryModule() {
    void* module = gLibraryModule.load(std::memory_order_acquire);
    if (module == nullptr) {
        module = velta::platform::Platform_GetLibraryModule();
        gLibraryModule.store(module, std::memory_order_release);
    }
    return module;
}

TEncodingConverter::TEncodingConverter(const char* from, const char* to,
                                       const UnicodeTableSet* tableSet,
                                       const UnicodeTableList* tableList1,
                                       const UnicodeTableList* tableList2, unsigned short csid,
                                       unsigned short expansionFactor,
                                       resourceMapTable* resourceMap, void* module, char direction)
    : fUnicodeTableSet(tableSet),
      fTableList2(tableList2),
      fTableList1(tableList1),
      fCSID(csid),
      fFromEncoding(from),
      fToEncoding(to),
      fModule(module),
      fResourceMap(resourceMap),
      fExpansionFactor(expansionFactor),
      fDirection(direction),
      fFromUCS2Tables(),
      fToUCS2Tables(),
      fTableCount(0),
      fStatus(NLS_SUCCESS) {
    for (int k = 0; k < kTableSlots; ++k) {
        fFromUCS2Tables.slots[k] = {0, 0xFF, 0x00};
        fToUCS2Tables.slots[k] = {0, 0xFF, 0x00};
    }
    if (resourceMap != nullptr)
        fStatus = LoadUCS2TableSet(csid, direction == 1 ? &fFromUCS2Tables : &fToUCS2Tables,
                                   direction == 1);
}

TEncodingConverter::TEncodingConverter(const TConverterIdentity& identity)
    : TEncodingConverter(identity.from, identity.to, nullptr, nullptr, nullptr, identity.csid,
                         identity.expansionFactor, nullptr, nullptr, identity.direction) {}

// The copy shares the tables of the original and takes no new references.
TEncodingConverter::TEncodingConverter(const TEncodingConverter& other) = default;

TEncodingConverter::~TEncodingConverter() = default;

TStreamConverter::~TStreamConverter() = default;

void TStreamConverter::TakeReport(uint32_t* count, int32_t* firstKind, int64_t* firstOffset) {
    *count = fCount;
    *firstKind = fFirstKind;
    *firstOffset = fFirstOffset;
    fCount = 0;
    fFirstKind = NLS_NO_SUBSTITUTION;
    fFirstOffset = 0;
}

int32_t TStreamConverter::Substitute(int32_t kind, int64_t offset) {
    NoteSubstitution(kind, offset, fPolicy != NLS_POLICY_STOP);
    return fPolicy;
}

void TStreamConverter::NoteSubstitution(int32_t kind, int64_t offset, bool counted) {
    if (fFirstKind == NLS_NO_SUBSTITUTION) {
        fFirstKind = kind;
        fFirstOffset = offset;
    }
    if (counted) ++fCount;
}

TTableConverter::~TTableConverter() = default;

void TEncodingConverter::Reset() {}

void TEncodingConverter::ReleaseEncodingConverter() {
    delete this;
}

NLS_Status TEncodingConverter::GetStatus() {
    return fStatus;
}

// expansion factor x length + 2 for the terminator, saturated at the largest
// 32-bit size rather than wrapped to a small one.
void TEncodingConverter::TargetBufferSize(const unsigned char*, uint32_t sourceLength,
                                          uint32_t* size) {
    if (size == nullptr) return;
    const uint64_t bound = static_cast<uint64_t>(fExpansionFactor) * sourceLength + 2;
    *size = bound > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(bound);
}

NLS_Status TEncodingConverter::Convert(unsigned char* target, uint32_t* targetLength,
                                       uint32_t targetCapacity, const unsigned char* source,
                                       uint32_t sourceLength, uint32_t* sourceConsumed) {
    if (fDirection != 0)
        return ConvertFromUnicode(target, targetLength, targetCapacity, source, sourceLength,
                                  sourceConsumed);
    return ConvertToUnicode(target, targetLength, targetCapacity, source, sourceLength,
                            sourceConsumed);
}

bool TEncodingConverter::InvalidConvertArguments(const unsigned char* target,
                                                 const uint32_t* targetLength,
                                                 uint32_t targetCapacity,
                                                 const unsigned char* source, uint32_t sourceLength,
                                                 const uint32_t* sourceConsumed) {
    return velta::convertArgumentsInvalid(target, targetLength, targetCapacity, source,
                                          sourceLength, sourceConsumed);
}
