// Fuzzes buffer detection, the ranked guesses (with their languages, one-shot
// and fed in two pieces) and the UTF-8 detector object.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "velta/velta.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size copy, so that a read past the buffer is caught.
    std::vector<unsigned char> buffer(data, data + size);
    NLS_DetectedEncoding record = {nullptr, 0, 0, 0};
    uint32_t count = 7;
    const NLS_Status status =
        NLS_DetectEncodingForBuffer(buffer.data(), static_cast<uint32_t>(size), &record, 1, &count);
    if (status == NLS_SUCCESS) {
        if (count != 1 || record.invalid != 0) abort();
        const char* const names[] = {
            "UTF-8", "Shift_JIS", "Extended_UNIX_Code_Packed_Format_for_Japanese", "ISO-2022-JP"};
        bool known = false;
        for (const char* name : names) known |= strcmp(record.encodingName, name) == 0;
        if (!known) abort();
    } else if (status != NLS_NOT_DETECTED || count != 0) {
        abort();
    }
    NLS_EncodingGuess guesses[16];
    uint32_t capacity = size == 0 ? 0 : data[0] % 17;
    const NLS_Status guessed =
        NLS_GuessEncodings(buffer.data(), static_cast<uint32_t>(size), guesses, capacity, &count);
    if (guessed != NLS_SUCCESS && guessed != NLS_NOT_DETECTED) abort();
    if (count > capacity) abort();
    for (uint32_t i = 0; i < count; ++i) {
        if (guesses[i].encodingName == nullptr || guesses[i].confidence == 0 ||
            guesses[i].confidence > 100 ||
            (i > 0 && guesses[i].confidence > guesses[i - 1].confidence))
            abort();
    }
    // The guesses with languages: the same, and the same again from a guesser
    // fed the buffer in two pieces.
    NLS_LanguageGuess withLanguages[16], fed[16];
    size_t withCount = 0, fedCount = 0;
    NLS_GuessEncodingsAndLanguages(buffer.data(), size, withLanguages, capacity, &withCount);
    if (withCount != count) abort();
    for (size_t i = 0; i < withCount; ++i)
        if (strcmp(withLanguages[i].encodingName, guesses[i].encodingName) != 0 ||
            withLanguages[i].confidence != guesses[i].confidence ||
            withLanguages[i].language == nullptr)
            abort();
    NLS_EncodingGuesser* guesser = nullptr;
    if (NLS_NewEncodingGuesser(&guesser) != NLS_SUCCESS) abort();
    const size_t cut = size == 0 ? 0 : data[size - 1] % (size + 1);
    NLS_FeedEncodingGuesser(guesser, buffer.data(), cut);
    NLS_FeedEncodingGuesser(guesser, buffer.data() + cut, size - cut);
    NLS_GetEncodingGuesses(guesser, fed, capacity, &fedCount);
    NLS_DeleteEncodingGuesser(guesser);
    if (fedCount != withCount) abort();
    for (size_t i = 0; i < fedCount; ++i)
        if (fed[i].encodingName != withLanguages[i].encodingName ||
            fed[i].confidence != withLanguages[i].confidence)
            abort();
    TAutoDetector* detector = NEWUTF8ENCODINGDETECTOR();
    NLS_DetectedEncoding accumulated = {nullptr, 0, 0, 0};
    detector->DetectEncoding(buffer.data(), static_cast<uint32_t>(size), &accumulated);
    if (accumulated.invalid > 1 || accumulated.score > size / 2) abort();
    detector->ReleaseEncodingDetector();
    return 0;
}
