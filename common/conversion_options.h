// What a conversion object sets on its converters beyond the policy
// (NLS_SetConversionOption). The library's own converters take them through
// TOptionTaker, which the object finds once, when it is made; converters of
// libraries built against the published headers do without.
#ifndef VELTA_COMMON_CONVERSION_OPTIONS_H
#define VELTA_COMMON_CONVERSION_OPTIONS_H

#include <stdint.h>

namespace velta {

struct ConversionOptions {
    // The Unicode decoders read as RFC 3629 and the Unicode standard do:
    // C0 80 and encoded surrogates (ED A0 80) in UTF-8 are malformed.
    bool strictUnicode = false;
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
