// Escaped Unicode: ASCII text in which any other UCS-2 unit is written as a
// backslash, "u" and four hexadecimal digits ("\u20AC"). No state is kept
// between calls: an escape cut by the end of the input is left unconsumed.
#include "common/step_shell.h"
#include "common/units.h"
#include "velta/factories.h"

using namespace velta;

namespace {

const char kEscapedName[] = "ESCAPED_UNICODE";
const char kUcs2Name[] = NLS_UCS2_NAME;
const unsigned char kBackslash = '\\';
const uint32_t kEscapeLength = 6;  // "\uXXXX"

const TConverterIdentity kDecoder = {kEscapedName, kUcs2Name, 0, 2, 0};
const TConverterIdentity kEncoder = {kUcs2Name, kEscapedName, 0, 8, 1};

// Two bytes of room stay free for the terminator in the older calls; a
// stream, which writes none, fills its output to the end.
class TEUCSToUnicodeConverter : public TStepShell<TEUCSToUnicodeConverter> {
public:
    TEUCSToUnicodeConverter() : TStepShell(kDecoder) {}
    TEncodingConverter* CloneConverter() const override { return CloneByCopy(*this); }
    StepResult step(const unsigned char* source, uint32_t sourceLength, unsigned char* target,
                    uint32_t targetCapacity, bool textEnds);
};

// The longest form and the terminator always fit: a unit is written only
// while more than seven bytes of room are left. A final odd byte waits
// unread (result 2, as always).
class TUnicodeToEUCSConverter : public TStepShell<TUnicodeToEUCSConverter, TVirtualConverterBase> {
public:
    TUnicodeToEUCSConverter() : TEncodingConverter(kEncoder), TStepShell(kEncoder) {}
    StepResult step(const unsigned char* source, uint32_t sourceLength, unsigned char* target,
                    uint32_t targetCapacity, bool textEnds);
    NLS_Status statusOfCut(uint32_t waitingBytes) const {
        return waitingBytes == 1 ? NLS_RESULT_TRUNCATED : NLS_SEQUENCE_INCOMPLETE;
    }
    virtual char HexDigit(unsigned short value);
};

int hexValue(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// What the bytes at p begin with.
struct Token {
    enum Kind { kPlain, kEscape, kBackslashPair, kCut } kind;
    uint32_t length;  // bytes consumed
    uint16_t value;   // the escape's unit
};

// "\u" (any number of "u") and up to four hexadecimal digits is an escape,
// ended early by a non-digit; "\u" with no digit at all is plain text, so the
// backslash stands for itself. A backslash before any other byte stays, with
// that byte, as two plain units. What the end of the input cuts short is kCut.
Token readToken(const unsigned char* p, uint32_t remaining) {
    if (p[0] != kBackslash) return {Token::kPlain, 1, p[0]};
    if (remaining < 2) return {Token::kCut, 0, 0};
    if (p[1] != 'u') return {Token::kBackslashPair, 2, 0};
    uint32_t i = 2;
    while (i < remaining && p[i] == 'u') ++i;
    uint32_t value = 0;
    uint32_t digits = 0;
    while (digits < 4) {
        if (i >= remaining) return {Token::kCut, 0, 0};
        const int digit = hexValue(p[i]);
        if (digit < 0) break;
        value = value * 16 + static_cast<uint32_t>(digit);
        ++digits;
        ++i;
    }
    if (digits == 0) return {Token::kPlain, 1, kBackslash};
    return {Token::kEscape, i, static_cast<uint16_t>(value)};
}

StepResult TEUCSToUnicodeConverter::step(const unsigned char* source, uint32_t sourceLength,
                                         unsigned char* target, uint32_t targetCapacity, bool) {
    uint32_t in = 0;
    uint32_t out = 0;
    // Units fit where a byte is left over, but in a stream: the room is
    // counted from one byte short of the end (never passed, as no more than
    // fits is written).
    const uint32_t usable =
        FillsToEnd() || targetCapacity == 0 ? targetCapacity : targetCapacity - 1;
    while (in < sourceLength) {
        const Token token = readToken(source + in, sourceLength - in);
        if (token.kind == Token::kCut) return cutAtEnd(in, out);
        const uint32_t units = token.kind == Token::kBackslashPair ? 2 : 1;
        if (usable - out < 2 * units) return outputFull(in, out);
        if (token.kind == Token::kBackslashPair) {
            storeUnit(target + out, kBackslash);
            storeUnit(target + out + 2, source[in + 1]);
        } else {
            storeUnit(target + out, token.value);
        }
        out += 2 * units;
        in += token.length;
    }
    return inputUsed(in, out);
}

char TUnicodeToEUCSConverter::HexDigit(unsigned short value) {
    return "0123456789ABCDEF"[value & 15];
}

inline bool standsForItself(uint16_t unit) {
    return unit == '\t' || unit == '\n' || unit == '\r' || (unit >= 0x20 && unit < 0x7F);
}

// Tab, line feed, carriage return and 0x20..0x7E stand for themselves; every
// other unit is escaped. A backslash is written as itself where the decoder
// reads it back as itself: together with a following unit that stands for
// itself and is not "u" (the decoder takes such a pair literally). Before
// "u", before an escaped unit or at the end of the input it would start an
// escape or be cut, so it is escaped too: every UCS-2 text then round-trips.
// While more input follows (SetInputEnds(false)), a backslash that ends the
// input waits for the unit that decides its form (-1304, unconsumed).
StepResult TUnicodeToEUCSConverter::step(const unsigned char* source, uint32_t sourceLength,
                                         unsigned char* target, uint32_t targetCapacity,
                                         bool textEnds) {
    const uint32_t units = sourceLength / 2;
    uint32_t count = 0;
    uint32_t out = 0;
    while (count < units) {
        if (targetCapacity - out <= kEscapeLength + 1) return outputFull(2 * count, out);
        const uint16_t unit = loadUnit(source + 2 * count);
        if (unit == kBackslash && count + 1 == units && !textEnds) return cutAtEnd(2 * count, out);
        if (unit == kBackslash && count + 1 < units) {
            const uint16_t next = loadUnit(source + 2 * count + 2);
            if (standsForItself(next) && next != 'u') {
                target[out++] = kBackslash;
                target[out++] = static_cast<unsigned char>(next);
                count += 2;
                continue;
            }
        }
        if (unit != kBackslash && standsForItself(unit)) {
            target[out++] = static_cast<unsigned char>(unit);
        } else {
            target[out++] = kBackslash;
            target[out++] = 'u';
            target[out++] =
                static_cast<unsigned char>(HexDigit(static_cast<unsigned short>(unit >> 12)));
            target[out++] = static_cast<unsigned char>(HexDigit((unit >> 8) & 0xF));
            target[out++] = static_cast<unsigned char>(HexDigit((unit >> 4) & 0xF));
            target[out++] = static_cast<unsigned char>(HexDigit(unit & 0xF));
        }
        ++count;
    }
    return 2 * count == sourceLength ? inputUsed(2 * count, out) : cutAtEnd(2 * count, out);
}

}  // namespace

TEncodingConverter* NEWEUCSTOUNICODEENCODINGCONVERTER() {
    return newStepConverter<TEUCSToUnicodeConverter>();
}

TEncodingConverter* NEWUNICODETOEUCSENCODINGCONVERTER() {
    return newStepConverter<TUnicodeToEUCSConverter>();
}
