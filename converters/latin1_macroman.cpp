// ISO-8859-1 (a direct byte-to-unit copy) and Mac OS Roman (the table-driven
// engines over the MACROMAN.UT and MACROMAN.UF resources).
#include <string.h>

#include <new>

#include "common/transliteration.h"
#include "common/units.h"
#include "converters/mapping_tables.h"
#include "velta/factories.h"

using namespace velta;

namespace {

const char kLatin1Name[] = "ISO_8859-1:1987";
const char kMacRomanName[] = "x-mac-roman";
const char kUcs2Name[] = NLS_UCS2_NAME;

enum : unsigned short { kLatin1Csid = 2, kMacRomanCsid = 6, kMacRomanTableId = 6 };

class TLatin1Converter : public TEncodingConverter, public TStreamConverter {
public:
    TEncodingConverter* CloneConverter() const override { return CloneByCopy(*this); }
    using TEncodingConverter::TEncodingConverter;
    ~TLatin1Converter() override = default;

protected:
    NLS_Status ConvertToUnicode(unsigned char* target, uint32_t* targetLength,
                                uint32_t targetCapacity, const unsigned char* source,
                                uint32_t sourceLength, uint32_t* sourceConsumed) override;
    NLS_Status ConvertFromUnicode(unsigned char* target, uint32_t* targetLength,
                                  uint32_t targetCapacity, const unsigned char* source,
                                  uint32_t sourceLength, uint32_t* sourceConsumed) override;
};

// Every byte, 0x00 included, is the unit of the same value.
NLS_Status TLatin1Converter::ConvertToUnicode(unsigned char* target, uint32_t* targetLength,
                                              uint32_t targetCapacity, const unsigned char* source,
                                              uint32_t sourceLength, uint32_t* sourceConsumed) {
    if (target == nullptr || targetLength == nullptr || source == nullptr ||
        sourceConsumed == nullptr || targetCapacity == 0 || sourceLength == 0)
        return NLS_INVALID_PARAMETER;
    const uint32_t roomForUnits = targetCapacity >= 2 ? (targetCapacity - 2) / 2 : 0;
    const uint32_t count = sourceLength < roomForUnits ? sourceLength : roomForUnits;
    for (uint32_t i = 0; i < count; ++i) storeUnit(target + 2 * i, source[i]);
    NLS_Status status = count == sourceLength ? NLS_SUCCESS : NLS_RESULT_TRUNCATED;
    if (!appendUnitTerminator(target, 2 * count, targetCapacity)) status = NLS_RESULT_TRUNCATED;
    *targetLength = 2 * count;
    *sourceConsumed = count;
    return status;
}

// Units above 0x00FF have no ISO-8859-1 byte: they become "?", a surrogate
// pair one "?" for its character. A high surrogate that ends the input waits
// for its pair (-1304, unconsumed).
NLS_Status TLatin1Converter::ConvertFromUnicode(unsigned char* target, uint32_t* targetLength,
                                                uint32_t targetCapacity,
                                                const unsigned char* source, uint32_t sourceLength,
                                                uint32_t* sourceConsumed) {
    if (InvalidConvertArguments(target, targetLength, targetCapacity, source, sourceLength,
                                sourceConsumed))
        return NLS_INVALID_PARAMETER;
    const uint32_t units = sourceLength / 2;
    const uint32_t roomForBytes = targetCapacity >= 1 ? targetCapacity - 1 : 0;
    uint32_t position = 0;
    uint32_t out = 0;
    NLS_Status status = NLS_SUCCESS;
    while (position < units && out < roomForBytes) {
        const uint16_t unit = loadUnit(source + 2 * position);
        if (unit <= 0xFF) {
            target[out++] = static_cast<unsigned char>(unit);
            ++position;
            continue;
        }
        uint32_t taken = 1;
        if (isHighSurrogate(unit)) {
            if (position + 1 == units) {
                status = NLS_SEQUENCE_INCOMPLETE;
                break;
            }
            if (isLowSurrogate(loadUnit(source + 2 * position + 2))) taken = 2;
        }
        const char* substitute = substituteFor(Policy(), taken == 1 ? unit : 0xFFFD);
        const uint32_t length = static_cast<uint32_t>(strlen(substitute));
        if (WritesSubstitute() && roomForBytes - out < length) break;  // waits for room
        const int32_t policy = SubstituteUnmappable(taken == 1 ? unit : 0, 2 * position);
        if (policy == NLS_POLICY_STOP) {
            status = NLS_UNMAPPABLE;
            break;
        }
        if (policy != NLS_POLICY_SKIP) {
            memcpy(target + out, substitute, length);
            out += length;
        }
        position += taken;
    }
    if (status == NLS_SUCCESS && 2 * position != sourceLength) status = NLS_RESULT_TRUNCATED;
    if (!appendByteTerminator(target, out, targetCapacity)) status = NLS_RESULT_TRUNCATED;
    *targetLength = out;
    *sourceConsumed = 2 * position;
    return status;
}

const UnicodeTableSet kMacRomanTableSet = {
    kMacRomanCsid,
    {{kMacRomanTableId, 0x00, 0xFF}, {0, 0xFF, 0x00}, {0, 0xFF, 0x00}, {0, 0xFF, 0x00}}};
const UnicodeTableList kMacRomanTableList1 = {kMacRomanTableId, "MACROMAN.UT"};
const UnicodeTableList kMacRomanTableList2 = {kMacRomanTableId, "MACROMAN.UF"};

TEncodingConverter* newMacRomanConverter(const char* from, const char* to, unsigned short factor,
                                         char direction) {
    void* module = TEncodingConverter::LibraryModule();
    return new (std::nothrow)
        TTableConverter(from, to, &kMacRomanTableSet, &kMacRomanTableList1, &kMacRomanTableList2,
                        kMacRomanCsid, factor, gLibraryResourceMap, module, direction);
}

}  // namespace

TEncodingConverter* NEWLATIN1TOUNICODEENCODINGCONVERTER() {
    TEncodingConverter::LibraryModule();
    return new (std::nothrow) TLatin1Converter(kLatin1Name, kUcs2Name, nullptr, nullptr, nullptr,
                                               kLatin1Csid, 2, nullptr, nullptr, 0);
}

TEncodingConverter* NEWUNICODETOLATIN1ENCODINGCONVERTER() {
    TEncodingConverter::LibraryModule();
    return new (std::nothrow) TLatin1Converter(kUcs2Name, kLatin1Name, nullptr, nullptr, nullptr,
                                               kLatin1Csid, 1, nullptr, nullptr, 1);
}

TEncodingConverter* NEWMACROMANTOUNICODEENCODINGCONVERTER() {
    return newMacRomanConverter(kMacRomanName, kUcs2Name, 2, 0);
}

TEncodingConverter* NEWUNICODETOMACROMANENCODINGCONVERTER() {
    return newMacRomanConverter(kUcs2Name, kMacRomanName, 1, 1);
}
