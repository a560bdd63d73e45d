// Converters of the library that no built-in row names: the shipped registry
// files name their factories (registerLibraryFactories), so that the
// library's own fourteen converters and their enumeration stay as they are.
#ifndef VELTA_CODECS_LIBRARY_CODECS_H
#define VELTA_CODECS_LIBRARY_CODECS_H

#include <stdint.h>

#include "common/units.h"
#include "velta/converter.h"

class TDLLLinker;

namespace velta {

TEncodingConverter* newUtf16Decoder(ByteOrder order);
TEncodingConverter* newUtf16Encoder(ByteOrder order);
TEncodingConverter* newUtf32Decoder(ByteOrder order);
TEncodingConverter* newUtf32Encoder(ByteOrder order);
// UTF-8 to and from UTF-16BE or UTF-16LE directly.
TEncodingConverter* newUtf8ToUtf16(ByteOrder order);
TEncodingConverter* newUtf16ToUtf8(ByteOrder order);
// UTF-8 to and from UTF-32BE or UTF-32LE directly.
TEncodingConverter* newUtf8ToUtf32(ByteOrder order);
TEncodingConverter* newUtf32ToUtf8(ByteOrder order);
// The single-byte encodings, by their index in kSingleByteTables.
TEncodingConverter* newSingleByteDecoder(uint32_t index);
TEncodingConverter* newSingleByteEncoder(uint32_t index);
// TSCII (Tamil), whose codes stand for sequences of characters.
TEncodingConverter* newTsciiDecoder();
TEncodingConverter* newTsciiEncoder();
// The chain of the two, where they are the UTF-8 converter and a
// single-byte one, as one converter that runs both steps over a small
// block (the two released); null where they are not, or without memory.
TEncodingConverter* fuseChain(TEncodingConverter* first, TEncodingConverter* second);
// ISO-8859-1's converters among the fourteen (converters/latin1_macroman.cpp):
// its name, and whether a converter is one of them.
extern const char kLatin1Name[];
bool isLatin1Decoder(const TEncodingConverter* converter);
bool isLatin1Encoder(const TEncodingConverter* converter);

// Makes the factories above known to the linker's built-in pseudo-library
// under the names the shipped encreg.txt uses.
void registerLibraryFactories(TDLLLinker* linker);

}  // namespace velta

#endif
