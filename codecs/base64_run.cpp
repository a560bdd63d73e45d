#include "codecs/base64_run.h"

#include <string.h>

namespace velta {

namespace {

Base64Alphabet makeAlphabet(const char* digits) {
    Base64Alphabet alphabet;
    memcpy(alphabet.digits, digits, 65);
    for (int c = 0; c < 128; ++c) alphabet.index[c] = -1;
    for (int i = 0; i < 64; ++i) alphabet.index[static_cast<unsigned char>(digits[i])] = static_cast<int8_t>(i);
    return alphabet;
}

}  // namespace

const Base64Alphabet& utf7Alphabet() {
    static const Base64Alphabet alphabet =
        makeAlphabet("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/");
    return alphabet;
}

const Base64Alphabet& modifiedUtf7Alphabet() {
    static const Base64Alphabet alphabet =
        makeAlphabet("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,");
    return alphabet;
}

}  // namespace velta
