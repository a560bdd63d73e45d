// The factories of the built-in converters, exported by name. Each returns a
// new converter (or detector) owned by the caller, or null without memory.
#ifndef VELTA_FACTORIES_H
#define VELTA_FACTORIES_H

#include "velta/converter.h"
#include "velta/detector.h"

VELTA_API TEncodingConverter* NEWLATIN1TOUNICODEENCODINGCONVERTER();
VELTA_API TEncodingConverter* NEWUNICODETOLATIN1ENCODINGCONVERTER();
VELTA_API TEncodingConverter* NEWMACROMANTOUNICODEENCODINGCONVERTER();
VELTA_API TEncodingConverter* NEWUNICODETOMACROMANENCODINGCONVERTER();
VELTA_API TEncodingConverter* NEWUCS4TOUNICODEENCODINGCONVERTER();
VELTA_API TEncodingConverter* NEWUNICODETOUCS4ENCODINGCONVERTER();
VELTA_API TEncodingConverter* NEWEUCSTOUNICODEENCODINGCONVERTER();
VELTA_API TEncodingConverter* NEWUNICODETOEUCSENCODINGCONVERTER();
VELTA_API TEncodingConverter* NEWUTF8TOUNICODEENCODINGCONVERTER();
VELTA_API TEncodingConverter* NEWUNICODETOUTF8ENCODINGCONVERTER();
VELTA_API TEncodingConverter* NEWUTF7TOUNICODEENCODINGCONVERTER();
VELTA_API TEncodingConverter* NEWUNICODETOUTF7ENCODINGCONVERTER();
VELTA_API TEncodingConverter* NEWMODIFIEDUTF7TOUNICODEENCODINGCONVERTER();
VELTA_API TEncodingConverter* NEWUNICODETOMODIFIEDUTF7ENCODINGCONVERTER();

// Converter libraries list their factories in tables of entry points.
template <typename Factory>
inline NLS_EntryPoint NLS_AsEntryPoint(Factory factory) {
    return reinterpret_cast<NLS_EntryPoint>(factory);
}

#endif
