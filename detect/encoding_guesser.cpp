// The guesses with their languages, for one buffer and for a text fed piece
// by piece. The guesser keeps the first bytes of the text that the one-shot
// call would read, so both give the same guesses for any split.
#include <string.h>

#include <algorithm>
#include <new>

#include "detect/detection.h"

struct NLS_EncodingGuesser {
    unsigned char start[velta::kExaminedBytes];
    size_t kept = 0;
};

namespace {

// Returns how many guesses there are, reported or not.
uint32_t fillGuesses(const unsigned char* p, size_t length, NLS_LanguageGuess* guesses,
                     size_t capacity, size_t* count) {
    velta::LanguageGuess ranked[velta::kMaxGuesses];
    const uint32_t examined =
        static_cast<uint32_t>(std::min<size_t>(length, velta::kExaminedBytes));
    const uint32_t found = length == 0 ? 0 : velta::RankEncodings(p, examined, ranked);
    const size_t reported = std::min<size_t>(found, capacity);
    for (size_t i = 0; i < reported; ++i)
        guesses[i] = NLS_LanguageGuess{ranked[i].name, ranked[i].confidence, ranked[i].language};
    *count = reported;
    return found;
}

}  // namespace

NLS_Status NLS_GuessEncodingsAndLanguages(const unsigned char* buffer, size_t length,
                                          NLS_LanguageGuess* guesses, size_t capacity,
                                          size_t* count) {
    if (count == nullptr || (buffer == nullptr && length != 0) ||
        (guesses == nullptr && capacity != 0))
        return NLS_INVALID_PARAMETER;
    *count = 0;
    if (length == 0) return NLS_NOT_DETECTED;
    return fillGuesses(buffer, length, guesses, capacity, count) == 0 ? NLS_NOT_DETECTED
                                                                      : NLS_SUCCESS;
}

NLS_Status NLS_NewEncodingGuesser(NLS_EncodingGuesser** guesser) {
    if (guesser == nullptr) return NLS_INVALID_PARAMETER;
    *guesser = new (std::nothrow) NLS_EncodingGuesser;
    return *guesser == nullptr ? NLS_OUT_OF_MEMORY : NLS_SUCCESS;
}

NLS_Status NLS_FeedEncodingGuesser(NLS_EncodingGuesser* guesser, const unsigned char* piece,
                                   size_t length) {
    if (guesser == nullptr || (piece == nullptr && length != 0)) return NLS_INVALID_PARAMETER;
    const size_t taken = std::min(length, sizeof guesser->start - guesser->kept);
    if (taken != 0) memcpy(guesser->start + guesser->kept, piece, taken);
    guesser->kept += taken;
    return NLS_SUCCESS;
}

NLS_Status NLS_GetEncodingGuesses(const NLS_EncodingGuesser* guesser, NLS_LanguageGuess* guesses,
                                  size_t capacity, size_t* count) {
    if (guesser == nullptr) return NLS_INVALID_PARAMETER;
    return NLS_GuessEncodingsAndLanguages(guesser->start, guesser->kept, guesses, capacity, count);
}

NLS_Status NLS_DeleteEncodingGuesser(NLS_EncodingGuesser* guesser) {
    delete guesser;
    return NLS_SUCCESS;
}
