// What a conversion object sets on its converters beyond the policy
// (NLS_SetConversionOption). The library's own converters take them through
// TOptionTaker, which the object finds once, when it is made; converters of
// libraries built against the published headers do without.
#ifndef VELTA_COMMON_CONVERSION_OPTIONS_H
#define VELTA_COMMON_CONVERSION_OPTIONS_H

#include <stdint.h>

namespace velta {

// What the shell does at malformed input and at a character the target
// lacks. The NLS_POLICY_* values name pairs of them (see actionsOfPolicy);
// NLS_OPTION_MALFORMED_ACTION and NLS_OPTION_UNMAPPABLE_ACTION choose each.
enum class Action : uint8_t {
    kFromPolicy,     // as the policy of the object says
    kReplace,        // U+FFFD, or the target's "?"
    kSkip,           // nothing
    kStop,           // end the call before it
    kTransliterate,  // the ASCII stand-in, else the fallback action
    kEscapeXmlDecimal,
    kEscapeXmlHex,
    kEscapeUnicode,  // \uXXXX, a pair of them beyond the BMP
    kSubstitute,     // the caller's character, else "?"
};

struct ConversionOptions {
    // The Unicode decoders read as RFC 3629 and the Unicode standard do:
    // C0 80 and encoded surrogates (ED A0 80) in UTF-8, lone surrogates in
    // UTF-16, UCS-2 and UTF-7 are malformed.
    bool strictUnicode = false;
    Action malformed = Action::kFromPolicy;
    Action unmappable = Action::kFromPolicy;
    // What kTransliterate does for a character without a stand-in.
    Action fallback = Action::kReplace;
    uint32_t substitute = '?';
};

class TOptionTaker {
public:
    virtual void TakeOptions(const ConversionOptions& options) = 0;

protected:
    ~TOptionTaker() = default;
};

// A converter between two encodings neither of which is UCS-2 (UTF-8 to
// UTF-16LE, say): writes U+FFFD as its target does, for the replacement of
// a character that the end of the text cuts short. Returns the bytes
// written, 0 where they do not fit.
class TReplacementWriter {
public:
    virtual uint32_t WriteReplacement(unsigned char* out, uint32_t capacity) const = 0;

protected:
    ~TReplacementWriter() = default;
};

}  // namespace velta

#endif
