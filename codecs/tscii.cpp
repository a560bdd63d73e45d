// TSCII 1.7 (Tamil) to and from UCS-2, as glibc's charmap TSCII lists it:
// bytes 0x00-0x7F are ASCII; a byte 0x80-0xFE stands for one to four
// characters (0x82 is SRI, U+0BB8 U+0BCD U+0BB0 U+0BC0), and a prefix vowel
// sign, its consonant and the length mark after it are one code of up to
// three bytes (0xA6 0xB8 0xA1 is KO, U+0B95 U+0BCA). Each side reads the
// longest code at its place: bytes by codecs/indexes/tscii.h, characters by the
// same codes. Where the input ends inside what may be a longer code, the step
// stops there until the text ends (then the shorter code stands), so no state
// is kept between calls. 0xA0 and 0xFF are no characters; 0xAD is read as
// U+0B87, which is written 0xFE.
#include <algorithm>
#include <iterator>

#include "codecs/indexes/tscii.h"
#include "codecs/library_codecs.h"
#include "common/ascii_runs.h"
#include "common/step_shell.h"
#include "common/units.h"

namespace velta {

namespace {

const char kTsciiName[] = "TSCII";
const uint32_t kCodeCount = sizeof kTsciiCodes / sizeof kTsciiCodes[0];

// The longest code at a place, or why there is none to take yet.
struct Match {
    const TsciiCode* code;  // null: no code fits
    bool waits;             // the input ends inside a longer code
};

// Among the codes `first` to `last`, in the order of their symbols
// (`symbolsOf`, `countOf`), the longest that starts `input`, narrowed a
// symbol at a time: the codes that share the first k symbols of the input lie
// together, the one of just those k symbols in front. `waits` where the
// input ends inside a longer one.
template <typename Symbol, typename SymbolsOf, typename CountOf>
Match longestAt(const Symbol* input, uint32_t available, const TsciiCode* const* first,
                const TsciiCode* const* last, SymbolsOf symbolsOf, CountOf countOf) {
    Match match = {nullptr, false};
    for (uint32_t k = 0; first != last; ++k) {
        if (countOf(**first) == k) match.code = *first++;
        if (first == last) break;
        if (k == available) {
            match.waits = true;
            break;
        }
        const Symbol wanted = input[k];
        first = std::lower_bound(first, last, wanted, [&](const TsciiCode* code, Symbol symbol) {
            return symbolsOf(*code)[k] < symbol;
        });
        last = std::upper_bound(first, last, wanted, [&](Symbol symbol, const TsciiCode* code) {
            return symbol < symbolsOf(*code)[k];
        });
    }
    return match;
}

// Pointers to the codes in the order of their bytes and in the order of
// their characters, so that both sides search one way; and where the codes
// of each first byte begin.
struct CodeOrders {
    const TsciiCode* byBytes[kCodeCount];
    const TsciiCode* byCharacters[sizeof kTsciiCodesByCharacters / sizeof(uint16_t)];
    uint16_t firstOfLead[257];
    constexpr CodeOrders() : byBytes(), byCharacters(), firstOfLead() {
        for (uint32_t i = 0; i < kCodeCount; ++i) byBytes[i] = &kTsciiCodes[i];
        for (uint32_t i = 0; i < sizeof byCharacters / sizeof byCharacters[0]; ++i)
            byCharacters[i] = &kTsciiCodes[kTsciiCodesByCharacters[i]];
        uint32_t code = 0;
        for (uint32_t lead = 0; lead <= 256; ++lead) {
            while (code < kCodeCount && kTsciiCodes[code].bytes[0] < lead) ++code;
            firstOfLead[lead] = static_cast<uint16_t>(code);
        }
    }
};
constexpr CodeOrders kOrders;

Match codeOfBytes(const unsigned char* input, uint32_t available) {
    const TsciiCode* const* first = kOrders.byBytes + kOrders.firstOfLead[input[0]];
    const TsciiCode* const* last = kOrders.byBytes + kOrders.firstOfLead[input[0] + 1];
    // Most bytes start no longer code: the byte's own code, found at once.
    if (last - first == 1) return {*first, false};
    return longestAt(
        input, available, first, last, [](const TsciiCode& code) { return code.bytes; },
        [](const TsciiCode& code) { return uint32_t{code.byteCount}; });
}

// `input` holds `available` units, read from the text.
Match codeOfUnits(const uint16_t* input, uint32_t available) {
    return longestAt(
        input, available, std::begin(kOrders.byCharacters), std::end(kOrders.byCharacters),
        [](const TsciiCode& code) { return code.units; },
        [](const TsciiCode& code) { return uint32_t{code.unitCount}; });
}

// The most units a code stands for (SRI and KSSA with a virama: four).
const uint32_t kMaxUnitsOfCode = sizeof(TsciiCode{}.units) / sizeof(uint16_t);

class TTsciiToUnicodeConverter : public TStepShell<TTsciiToUnicodeConverter> {
public:
    TTsciiToUnicodeConverter() : TStepShell({kTsciiName, NLS_UCS2_NAME, 0, 8, 0}) {}
    TEncodingConverter* CloneConverter() const override { return CloneByCopy(*this); }

    StepResult step(const unsigned char* source, uint32_t sourceLength, unsigned char* target,
                    uint32_t targetCapacity, bool textEnds) {
        uint32_t in = 0, out = 0;
        while (in < sourceLength) {
            if (source[in] < 0x80) {
                const uint32_t run = widenAsciiRun(source + in, sourceLength - in, target + out,
                                                   targetCapacity - out);
                // A run ends only where the ASCII, the input or the room does.
                if (run == 0) return outputFull(in, out);
                in += run;
                out += 2 * run;
                continue;
            }
            const Match match = codeOfBytes(source + in, sourceLength - in);
            if (match.waits && !textEnds) return cutAtEnd(in, out);
            if (match.code == nullptr) return malformedAt(in, out, 1);
            const uint32_t units = match.code->unitCount;
            if (targetCapacity - out < 2 * units) return outputFull(in, out);
            for (uint32_t k = 0; k < units; ++k)
                storeUnit(target + out + 2 * k, match.code->units[k]);
            out += 2 * units;
            in += match.code->byteCount;
        }
        return inputUsed(in, out);
    }
};

class TUnicodeToTsciiConverter : public TStepShell<TUnicodeToTsciiConverter> {
public:
    TUnicodeToTsciiConverter() : TStepShell({NLS_UCS2_NAME, kTsciiName, 0, 1, 1}) {}
    TEncodingConverter* CloneConverter() const override { return CloneByCopy(*this); }

    StepResult step(const unsigned char* source, uint32_t sourceLength, unsigned char* target,
                    uint32_t targetCapacity, bool textEnds) {
        const uint32_t units = sourceLength / 2;
        uint32_t position = 0, out = 0;
        while (position < units) {
            const uint16_t unit = loadUnit(source + 2 * position);
            if (unit < 0x80) {
                const uint32_t run = narrowAsciiRun(source + 2 * position, units - position,
                                                    target + out, targetCapacity - out);
                position += run;
                out += run;
                if (run != 0) continue;
                if (out == targetCapacity) return outputFull(2 * position, out);
                target[out++] = static_cast<unsigned char>(unit);
                ++position;
                continue;
            }
            uint16_t ahead[kMaxUnitsOfCode];
            const uint32_t available = std::min(units - position, kMaxUnitsOfCode);
            for (uint32_t k = 0; k < available; ++k)
                ahead[k] = loadUnit(source + 2 * (position + k));
            const Match match = codeOfUnits(ahead, available);
            if (match.waits && !textEnds) return cutAtEnd(2 * position, out);
            if (match.code == nullptr) return lackedUnitAt(source, units, position, out);
            const uint32_t length = match.code->byteCount;
            if (targetCapacity - out < length) return outputFull(2 * position, out);
            std::copy(match.code->bytes, match.code->bytes + length, target + out);
            out += length;
            position += match.code->unitCount;
        }
        if (2 * position != sourceLength) return cutAtEnd(2 * position, out);
        return inputUsed(2 * position, out);
    }
};

}  // namespace

TEncodingConverter* newTsciiDecoder() {
    return newStepConverter<TTsciiToUnicodeConverter>();
}

TEncodingConverter* newTsciiEncoder() {
    return newStepConverter<TUnicodeToTsciiConverter>();
}

}  // namespace velta
