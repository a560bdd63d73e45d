// The static library: the shipped converter libraries are linked in and
// answer to their library names; no converter library is loaded from a file.
#include "linker/linked_libraries.h"

#include <string.h>

class TEncodingConverter;

extern "C" {
TEncodingConverter* NEWSHIFTJISTOUNICODE();
TEncodingConverter* NEWUNICODETOSHIFTJIS();
TEncodingConverter* NEWEUCJPTOUNICODE();
TEncodingConverter* NEWUNICODETOEUCJP();
TEncodingConverter* NEWISO2022JPTOUNICODE();
TEncodingConverter* NEWUNICODETOISO2022JP();
TEncodingConverter* NEWISO2022JP2TOUNICODE();
TEncodingConverter* NEWUNICODETOISO2022JP2();
TEncodingConverter* NEWWINDOWS31JTOUNICODE();
TEncodingConverter* NEWUNICODETOWINDOWS31J();
TEncodingConverter* NEWBIG5TOUNICODE();
TEncodingConverter* NEWUNICODETOBIG5();
TEncodingConverter* NEWEUCKRTOUNICODE();
TEncodingConverter* NEWUNICODETOEUCKR();
TEncodingConverter* NEWGB18030TOUNICODE();
TEncodingConverter* NEWUNICODETOGB18030();
TEncodingConverter* NEWGBKTOUNICODE();
TEncodingConverter* NEWUNICODETOGBK();
TEncodingConverter* NEWGB2312TOUNICODE();
TEncodingConverter* NEWUNICODETOGB2312();
TEncodingConverter* NEWEUCTWTOUNICODE();
TEncodingConverter* NEWUNICODETOEUCTW();
TEncodingConverter* NEWJOHABTOUNICODE();
TEncodingConverter* NEWUNICODETOJOHAB();
TEncodingConverter* NEWEUCJPMSTOUNICODE();
TEncodingConverter* NEWUNICODETOEUCJPMS();
TEncodingConverter* NEWBIG5HKSCSTOUNICODE();
TEncodingConverter* NEWUNICODETOBIG5HKSCS();
TEncodingConverter* NEWISO2022KRTOUNICODE();
TEncodingConverter* NEWUNICODETOISO2022KR();
TEncodingConverter* NEWHZTOUNICODE();
TEncodingConverter* NEWUNICODETOHZ();
TEncodingConverter* NEWISO2022CNTOUNICODE();
TEncodingConverter* NEWUNICODETOISO2022CN();
TEncodingConverter* NEWISO2022CNEXTTOUNICODE();
TEncodingConverter* NEWUNICODETOISO2022CNEXT();
TEncodingConverter* NEWEUCJISX0213TOUNICODE();
TEncodingConverter* NEWUNICODETOEUCJISX0213();
TEncodingConverter* NEWSHIFTJISX0213TOUNICODE();
TEncodingConverter* NEWUNICODETOSHIFTJISX0213();
TEncodingConverter* NEWISO2022JP3TOUNICODE();
TEncodingConverter* NEWUNICODETOISO2022JP3();
}

namespace velta {

namespace {

#define VELTA_FACTORY(name) \
    { #name, reinterpret_cast < NLS_EntryPoint>(&name) }

const NLS_StaticSymbol kJapanese[] = {VELTA_FACTORY(NEWSHIFTJISTOUNICODE),
                                      VELTA_FACTORY(NEWUNICODETOSHIFTJIS),
                                      VELTA_FACTORY(NEWEUCJPTOUNICODE),
                                      VELTA_FACTORY(NEWUNICODETOEUCJP),
                                      VELTA_FACTORY(NEWISO2022JPTOUNICODE),
                                      VELTA_FACTORY(NEWUNICODETOISO2022JP),
                                      VELTA_FACTORY(NEWISO2022JP2TOUNICODE),
                                      VELTA_FACTORY(NEWUNICODETOISO2022JP2),
                                      VELTA_FACTORY(NEWWINDOWS31JTOUNICODE),
                                      VELTA_FACTORY(NEWUNICODETOWINDOWS31J),
                                      {nullptr, nullptr}};

const NLS_StaticSymbol kChineseAndKorean[] = {VELTA_FACTORY(NEWBIG5TOUNICODE),
                                              VELTA_FACTORY(NEWUNICODETOBIG5),
                                              VELTA_FACTORY(NEWEUCKRTOUNICODE),
                                              VELTA_FACTORY(NEWUNICODETOEUCKR),
                                              VELTA_FACTORY(NEWGB18030TOUNICODE),
                                              VELTA_FACTORY(NEWUNICODETOGB18030),
                                              VELTA_FACTORY(NEWGBKTOUNICODE),
                                              VELTA_FACTORY(NEWUNICODETOGBK),
                                              VELTA_FACTORY(NEWGB2312TOUNICODE),
                                              VELTA_FACTORY(NEWUNICODETOGB2312),
                                              VELTA_FACTORY(NEWEUCTWTOUNICODE),
                                              VELTA_FACTORY(NEWUNICODETOEUCTW),
                                              VELTA_FACTORY(NEWJOHABTOUNICODE),
                                              VELTA_FACTORY(NEWUNICODETOJOHAB),
                                              VELTA_FACTORY(NEWEUCJPMSTOUNICODE),
                                              VELTA_FACTORY(NEWUNICODETOEUCJPMS),
                                              VELTA_FACTORY(NEWBIG5HKSCSTOUNICODE),
                                              VELTA_FACTORY(NEWUNICODETOBIG5HKSCS),
                                              VELTA_FACTORY(NEWISO2022KRTOUNICODE),
                                              VELTA_FACTORY(NEWUNICODETOISO2022KR),
                                              VELTA_FACTORY(NEWHZTOUNICODE),
                                              VELTA_FACTORY(NEWUNICODETOHZ),
                                              VELTA_FACTORY(NEWISO2022CNTOUNICODE),
                                              VELTA_FACTORY(NEWUNICODETOISO2022CN),
                                              VELTA_FACTORY(NEWISO2022CNEXTTOUNICODE),
                                              VELTA_FACTORY(NEWUNICODETOISO2022CNEXT),
                                              VELTA_FACTORY(NEWEUCJISX0213TOUNICODE),
                                              VELTA_FACTORY(NEWUNICODETOEUCJISX0213),
                                              VELTA_FACTORY(NEWSHIFTJISX0213TOUNICODE),
                                              VELTA_FACTORY(NEWUNICODETOSHIFTJISX0213),
                                              VELTA_FACTORY(NEWISO2022JP3TOUNICODE),
                                              VELTA_FACTORY(NEWUNICODETOISO2022JP3),
                                              {nullptr, nullptr}};

#undef VELTA_FACTORY

}  // namespace

const NLS_StaticSymbol* linkedInLibrary(const char* name) {
    if (name == nullptr) return nullptr;
    if (strcmp(name, "jpconv") == 0) return kJapanese;
    if (strcmp(name, "cjkconv") == 0) return kChineseAndKorean;
    return nullptr;
}

bool loadsLibraryFiles() {
    return false;
}

}  // namespace velta
