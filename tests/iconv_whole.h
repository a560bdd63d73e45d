// One call of an iconv-shaped function over all of a short text: what the
// drop-in and the interface tests both need.
#ifndef VELTA_TESTS_ICONV_WHOLE_H
#define VELTA_TESTS_ICONV_WHOLE_H

#include <stddef.h>

#include <string>

struct WholeCall {
    size_t returned;
    std::string output;
};

template <typename Descriptor>
WholeCall convertWhole(size_t (*convert)(Descriptor, char**, size_t*, char**, size_t*),
                       Descriptor cd, std::string text) {
    char out[256];
    char* in = &text[0];
    char* outPointer = out;
    size_t inLeft = text.size(), outLeft = sizeof out;
    const size_t returned = convert(cd, &in, &inLeft, &outPointer, &outLeft);
    return {returned, std::string(out, outPointer)};
}

#endif
