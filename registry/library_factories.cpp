// The factory names of the converters that the shipped registry files
// register from the library itself: New<Form>ToUnicode and NewUnicodeTo<Form>
// for the Unicode forms (New<Form>To<Form> for the direct pairs of UTF-8 and
// UTF-16 or UTF-32), NewSingleByteToUnicode_<name> and
// NewUnicodeToSingleByte_<name> for the single-byte encodings, NewTSCIIToUnicode
// and NewUnicodeToTSCII for TSCII.
#include <string>
#include <utility>
#include <vector>

#include "codecs/library_codecs.h"
#include "codecs/single_byte_tables.h"
#include "velta/linker.h"

namespace velta {

namespace {

// A factory without arguments for one byte order of a Unicode form.
template <TEncodingConverter* (*kMake)(ByteOrder), ByteOrder kOrder>
TEncodingConverter* inOrder() {
    return kMake(kOrder);
}
template <uint32_t kIndex>
TEncodingConverter* singleByteDecoder() {
    return newSingleByteDecoder(kIndex);
}
template <uint32_t kIndex>
TEncodingConverter* singleByteEncoder() {
    return newSingleByteEncoder(kIndex);
}

// One factory per table index up to the bound the tables stay within.
const uint32_t kMaxSingleByteFactories = kMaxSingleByteTables;
typedef TEncodingConverter* (*Factory)();

template <size_t... kIndex>
void singleByteFactories(std::index_sequence<kIndex...>, Factory* decoders, Factory* encoders) {
    ((decoders[kIndex] = &singleByteDecoder<kIndex>), ...);
    ((encoders[kIndex] = &singleByteEncoder<kIndex>), ...);
}

}  // namespace

void registerLibraryFactories(TDLLLinker* linker) {
    struct Named {
        std::string name;
        Factory factory;
    };
    std::vector<Named> factories = {
        {"NewUTF16ToUnicode", &inOrder<newUtf16Decoder, ByteOrder::kMarked>},
        {"NewUnicodeToUTF16", &inOrder<newUtf16Encoder, ByteOrder::kMarked>},
        {"NewUTF16BEToUnicode", &inOrder<newUtf16Decoder, ByteOrder::kBig>},
        {"NewUnicodeToUTF16BE", &inOrder<newUtf16Encoder, ByteOrder::kBig>},
        {"NewUTF16LEToUnicode", &inOrder<newUtf16Decoder, ByteOrder::kLittle>},
        {"NewUnicodeToUTF16LE", &inOrder<newUtf16Encoder, ByteOrder::kLittle>},
        {"NewUTF32ToUnicode", &inOrder<newUtf32Decoder, ByteOrder::kMarked>},
        {"NewUnicodeToUTF32", &inOrder<newUtf32Encoder, ByteOrder::kMarked>},
        {"NewUTF32BEToUnicode", &inOrder<newUtf32Decoder, ByteOrder::kBig>},
        {"NewUnicodeToUTF32BE", &inOrder<newUtf32Encoder, ByteOrder::kBig>},
        {"NewUTF32LEToUnicode", &inOrder<newUtf32Decoder, ByteOrder::kLittle>},
        {"NewUnicodeToUTF32LE", &inOrder<newUtf32Encoder, ByteOrder::kLittle>},
        {"NewUTF8ToUTF16BE", &inOrder<newUtf8ToUtf16, ByteOrder::kBig>},
        {"NewUTF8ToUTF16LE", &inOrder<newUtf8ToUtf16, ByteOrder::kLittle>},
        {"NewUTF16BEToUTF8", &inOrder<newUtf16ToUtf8, ByteOrder::kBig>},
        {"NewUTF16LEToUTF8", &inOrder<newUtf16ToUtf8, ByteOrder::kLittle>},
        {"NewUTF8ToUTF32BE", &inOrder<newUtf8ToUtf32, ByteOrder::kBig>},
        {"NewUTF8ToUTF32LE", &inOrder<newUtf8ToUtf32, ByteOrder::kLittle>},
        {"NewUTF32BEToUTF8", &inOrder<newUtf32ToUtf8, ByteOrder::kBig>},
        {"NewUTF32LEToUTF8", &inOrder<newUtf32ToUtf8, ByteOrder::kLittle>},
        {"NewTSCIIToUnicode", &newTsciiDecoder},
        {"NewUnicodeToTSCII", &newTsciiEncoder},
    };
    Factory decoders[kMaxSingleByteFactories];
    Factory encoders[kMaxSingleByteFactories];
    singleByteFactories(std::make_index_sequence<kMaxSingleByteFactories>(), decoders, encoders);
    for (uint32_t i = 0; i < kSingleByteTableCount && i < kMaxSingleByteFactories; ++i) {
        factories.push_back(
            {std::string("NewSingleByteToUnicode_") + kSingleByteTables[i].name, decoders[i]});
        factories.push_back(
            {std::string("NewUnicodeToSingleByte_") + kSingleByteTables[i].name, encoders[i]});
    }
    std::vector<NLS_StaticConverterEntry> rows;
    for (const Named& named : factories)
        rows.push_back(
            {"", "", named.name.c_str(), reinterpret_cast<NLS_EntryPoint>(named.factory)});
    rows.push_back({nullptr, nullptr, nullptr, nullptr});
    linker->RegisterStaticConverters(reinterpret_cast<char*>(rows.data()));
}

}  // namespace velta
