// ISO-8859-1 (a direct byte-to-unit copy) and Mac OS Roman (the table-driven
// engines over the MACROMAN.UT and MACROMAN.UF resources).
#include <stdint.h>

#include <new>
#include <typeinfo>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "codecs/library_codecs.h"
#include "common/step_shell.h"
#include "common/text_kernels.h"
#include "common/units.h"
#include "converters/mapping_tables.h"
#include "converters/table_engine.h"
#include "velta/factories.h"

using namespace velta;

namespace velta {

const char kLatin1Name[] = "ISO_8859-1:1987";

}  // namespace velta

namespace {

const char kMacRomanName[] = "x-mac-roman";
const char kUcs2Name[] = NLS_UCS2_NAME;

enum : unsigned short { kLatin1Csid = 2, kMacRomanCsid = 6, kMacRomanTableId = 6 };

// Units before `target` reaches a multiple of 32, the widest store: a
// stream's output starts wherever the bytes held from its last call end, and
// stores that cross cache lines ran this loop at two thirds of its speed.
uint32_t unitsToAlignment(const unsigned char* target, uint32_t count) {
    const uint32_t misaligned = reinterpret_cast<uintptr_t>(target) % 32;
    const uint32_t units = misaligned % 2 != 0 ? 0 : (32 - misaligned) % 32 / 2;
    return units < count ? units : count;
}

// The bytes that come next as units, by the kernel set's blocks where it has
// them, then sixteen at a time where SSE2 is (the first few alone, up to an
// aligned block of the target); returns the bytes taken, the rest for the
// loop a byte at a time.
uint32_t widenLatin1Blocks(const unsigned char* source, uint32_t count, unsigned char* target) {
    uint32_t done = unitsToAlignment(target, count);
    for (uint32_t i = 0; i < done; ++i) storeUnit(target + 2 * i, source[i]);
    const auto widenBytes = textKernels().widenBytes;
    if (widenBytes != nullptr) done += widenBytes(source + done, count - done, target + 2 * done);
#if defined(__SSE2__)
    for (; count - done >= 16; done += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + done));
        __m128i* out = reinterpret_cast<__m128i*>(target + 2 * done);
        _mm_storeu_si128(out, _mm_unpacklo_epi8(bytes, _mm_setzero_si128()));
        _mm_storeu_si128(out + 1, _mm_unpackhi_epi8(bytes, _mm_setzero_si128()));
    }
#endif
    return done;
}

// Every byte, 0x00 included, is the unit of the same value.
class TLatin1Decoder : public TTableRules<TLatin1Decoder> {
public:
    TLatin1Decoder() : TTableRules({kLatin1Name, kUcs2Name, kLatin1Csid, 2, 0}) {}
    TEncodingConverter* CloneConverter() const override { return CloneByCopy(*this); }

    StepResult stepBeforeTerminator(const unsigned char* source, uint32_t sourceLength,
                                    unsigned char* target, uint32_t targetCapacity) {
        const uint32_t count =
            sourceLength < targetCapacity / 2 ? sourceLength : targetCapacity / 2;
        for (uint32_t i = widenLatin1Blocks(source, count, target); i < count; ++i)
            storeUnit(target + 2 * i, source[i]);
        return count == sourceLength ? inputUsed(count, 2 * count) : outputFull(count, 2 * count);
    }
};

// The units up to 0x00FF that come next, as their bytes, sixteen at a time
// where SSE2 is (units in the machine's order); returns the units taken, the
// rest for the loop a unit at a time.
uint32_t narrowLatin1Blocks(const unsigned char* source, uint32_t count, unsigned char* target) {
    uint32_t done = 0;
#if defined(__SSE2__)
    const __m128i high = _mm_set1_epi16(static_cast<short>(0xFF00));
    for (; count - done >= 16; done += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + 2 * done));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + 2 * done + 16));
        const __m128i beyond = _mm_and_si128(_mm_or_si128(a, b), high);
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(beyond, _mm_setzero_si128())) != 0xFFFF) break;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(target + done), _mm_packus_epi16(a, b));
    }
#else
    (void)source;
    (void)count;
    (void)target;
#endif
    return done;
}

// Units above 0x00FF have no ISO-8859-1 byte; a surrogate pair is one
// character. A high surrogate that ends the input waits for its pair.
class TLatin1Encoder : public TTableRules<TLatin1Encoder> {
public:
    TLatin1Encoder() : TTableRules({kUcs2Name, kLatin1Name, kLatin1Csid, 1, 1}) {}
    TEncodingConverter* CloneConverter() const override { return CloneByCopy(*this); }

    StepResult stepBeforeTerminator(const unsigned char* source, uint32_t sourceLength,
                                    unsigned char* target, uint32_t targetCapacity) {
        const uint32_t units = sourceLength / 2;
        uint32_t position =
            narrowLatin1Blocks(source, units < targetCapacity ? units : targetCapacity, target);
        for (; position < units; ++position) {
            const uint16_t unit = loadUnit(source + 2 * position);
            if (unit > 0xFF) return lackedUnitAt(source, units, position, position);
            if (position == targetCapacity) return outputFull(2 * position, position);
            target[position] = static_cast<unsigned char>(unit);
        }
        if (2 * units != sourceLength) return cutAtEnd(2 * units, units);
        return inputUsed(2 * units, units);
    }
};

const UnicodeTableSet kMacRomanTableSet = {
    kMacRomanCsid,
    {{kMacRomanTableId, 0x00, 0xFF}, {0, 0xFF, 0x00}, {0, 0xFF, 0x00}, {0, 0xFF, 0x00}}};
const UnicodeTableList kMacRomanTableList1 = {kMacRomanTableId, "MACROMAN.UT"};
const UnicodeTableList kMacRomanTableList2 = {kMacRomanTableId, "MACROMAN.UF"};

TEncodingConverter* newMacRomanConverter(const char* from, const char* to, unsigned short factor,
                                         char direction) {
    void* module = TEncodingConverter::LibraryModule();
    return new (std::nothrow) TTableStepConverter(
        from, to, &kMacRomanTableSet, &kMacRomanTableList1, &kMacRomanTableList2, kMacRomanCsid,
        factor, gLibraryResourceMap, module, direction);
}

}  // namespace

namespace velta {

// (By their types, which nothing derives from: a comparison, not a search.)
bool isLatin1Decoder(const TEncodingConverter* converter) {
    return typeid(*converter) == typeid(TLatin1Decoder);
}

bool isLatin1Encoder(const TEncodingConverter* converter) {
    return typeid(*converter) == typeid(TLatin1Encoder);
}

}  // namespace velta

TEncodingConverter* NEWLATIN1TOUNICODEENCODINGCONVERTER() {
    return newStepConverter<TLatin1Decoder>();
}

TEncodingConverter* NEWUNICODETOLATIN1ENCODINGCONVERTER() {
    return newStepConverter<TLatin1Encoder>();
}

TEncodingConverter* NEWMACROMANTOUNICODEENCODINGCONVERTER() {
    return newMacRomanConverter(kMacRomanName, kUcs2Name, 2, 0);
}

TEncodingConverter* NEWUNICODETOMACROMANENCODINGCONVERTER() {
    return newMacRomanConverter(kUcs2Name, kMacRomanName, 1, 1);
}
