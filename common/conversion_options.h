// What a conversion object sets on its converters beyond the policy
// (NLS_SetConversionOption). The library's own converters take them through
// TOptionTaker, which the object finds once, when it is made; converters of
// libraries built against the published headers do without.
#ifndef VELTA_COMMON_CONVERSION_OPTIONS_H
#define VELTA_COMMON_CONVERSION_OPTIONS_H

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

}  // namespace velta

#endif
