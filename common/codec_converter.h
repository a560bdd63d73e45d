// The shell every algorithmic converter of the library shares, so that a
// codec file holds only what is particular to its encoding. A codec class
// derives from TCodecConverter<Codec>, gives its identity to the base and
// defines
//     NLS_Status Step(unsigned char* target, uint32_t* targetLength,
//                     uint32_t targetCapacity, const unsigned char* source,
//                     uint32_t sourceLength, uint32_t* sourceConsumed);
// which Convert calls once the arguments are checked (the Convert contract
// is in velta/converter.h). The encoders of UTF-8, UCS-4 and escaped Unicode
// hold TEncodingConverter as a virtual base, as their class layout has
// always been: they derive from TCodecConverter<Codec, TVirtualConverterBase>
// and, as the most-derived class, build that base themselves.
#ifndef VELTA_COMMON_CODEC_CONVERTER_H
#define VELTA_COMMON_CODEC_CONVERTER_H

#include <new>
#include <utility>

#include "common/conversion_options.h"
#include "common/step_shell.h"
#include "velta/converter.h"

namespace velta {

template <typename Codec, typename Base = TEncodingConverter>
class TCodecConverter : public Base, public TStreamConverter, public TOptionTaker {
public:
    void TakeOptions(const ConversionOptions& options) override { fOptions = options; }

    NLS_Status Convert(unsigned char* target, uint32_t* targetLength, uint32_t targetCapacity,
                       const unsigned char* source, uint32_t sourceLength,
                       uint32_t* sourceConsumed) override {
        if (TEncodingConverter::InvalidConvertArguments(target, targetLength, targetCapacity,
                                                        source, sourceLength, sourceConsumed))
            return NLS_INVALID_PARAMETER;
        return static_cast<Codec*>(this)->Step(target, targetLength, targetCapacity, source,
                                               sourceLength, sourceConsumed);
    }

protected:
    explicit TCodecConverter(const TConverterIdentity& identity) : TEncodingConverter(identity) {}

    ConversionOptions fOptions;
};

// A factory's work: the library's module known, then the converter (null
// without memory) at the address of its TEncodingConverter part.
template <typename Codec, typename... Arguments>
TEncodingConverter* newCodecConverter(Arguments&&... arguments) {
    TEncodingConverter::LibraryModule();
    return new (std::nothrow) Codec(std::forward<Arguments>(arguments)...);
}

}  // namespace velta

#endif
