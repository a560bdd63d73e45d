// Throughput of Velta's conversions beside ICU, glibc iconv, encoding_rs
// (where the build found it: bench/encoding_rs) and memcpy, on
// the same generated corpora. Velta runs through the flat functions with one
// conversion object reused and an output buffer large enough for the corpus.
// Byte rates are of input bytes.
#include <benchmark/benchmark.h>
#include <errno.h>
#include <iconv.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unicode/ucnv.h>
#include <unicode/ustring.h>
#include <unistd.h>

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "corpora.h"
#include "prose.h"
#include "velta/iconv.h"
#include "velta/nls.h"

using namespace velta_bench;

#ifdef VELTA_BENCH_HAVE_ENCODING_RS
extern "C" {
int velta_bench_encoding_rs_has(const char* from, const char* to);
ptrdiff_t velta_bench_encoding_rs_convert(const char* from, const char* to,
                                          const unsigned char* input, size_t inputLength,
                                          unsigned char* output, size_t capacity);
}
#endif

namespace {

typedef std::vector<unsigned char> Bytes;

// Source texts: each corpus, already converted into the source encoding.
struct Source {
    Bytes bytes;
};

Bytes veltaConvert(const char* from, const char* to, const Bytes& input) {
    Bytes output(input.size() * 8 + 16);
    uint32_t written = 0;
    NLS_ConvertBuffer(from, to, input.data(), static_cast<uint32_t>(input.size()), output.data(),
                      static_cast<uint32_t>(output.size()), &written);
    output.resize(written);
    return output;
}

// The encodings of the converter libraries, which hold part of the corpus.
bool holdsPartOfUnicode(const char* encoding) {
    for (const char* name : {"GB18030", "GBK", "Big5", "EUC-KR", "windows-31j", "Shift_JIS"})
        if (strcmp(encoding, name) == 0) return true;
    return false;
}

// The size of the ASCII, Latin, CJK and emoji corpora in UTF-8: 4 MiB, or
// VELTA_BENCH_CORPUS_BYTES (1048576 for 1 MiB), so that a size that fits a
// cache level and one that does not can be compared.
size_t corpusBytes() {
    const char* bytes = getenv("VELTA_BENCH_CORPUS_BYTES");
    const long long asked = bytes != nullptr ? atoll(bytes) : 0;
    return asked > 0 ? static_cast<size_t>(asked) : 4 * 1024 * 1024;
}

// A corpus in `encoding`, keeping only characters that it and `other` hold
// (the rest is "?"), so that both directions convert the same real text.
const Bytes& corpusIn(Corpus corpus, const char* encoding, const char* other) {
    static std::map<std::tuple<int, std::string, std::string>, Bytes> cache;
    const auto key =
        std::make_tuple(static_cast<int>(corpus), std::string(encoding), std::string(other));
    auto found = cache.find(key);
    if (found != cache.end()) return found->second;
    const std::string utf8 = makeCorpus(corpus, corpusBytes());
    Bytes bytes(utf8.begin(), utf8.end());
    for (const char* holder : {encoding, other})
        if (holdsPartOfUnicode(holder))
            bytes = veltaConvert(holder, "UTF-8", veltaConvert("UTF-8", holder, bytes));
    if (strcmp(encoding, "UTF-8") != 0) bytes = veltaConvert("UTF-8", encoding, bytes);
    return cache[key] = bytes;
}

// Times `object` over the whole input, then deletes it.
void timeVelta(benchmark::State& state, EncodingConverter* object, const Bytes& input,
               Bytes& output) {
    for (auto _ : state) {
        uint32_t written = 0;
        const NLS_Status status =
            NLS_ConvertStreamBuffer(object, input.data(), static_cast<uint32_t>(input.size()),
                                    output.data(), static_cast<uint32_t>(output.size()), &written);
        if (status != NLS_SUCCESS) state.SkipWithError("conversion failed");
        benchmark::DoNotOptimize(written);
    }
    NLS_DeleteEncodingConverter(object);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size()));
    state.SetLabel(NLS_KernelInUse());
}

// Velta through one reused conversion object.
void veltaStream(benchmark::State& state, const char* from, const char* to, Corpus corpus) {
    const Bytes& input = corpusIn(corpus, from, to);
    Bytes output(input.size() * 8 + 16);
    EncodingConverter* object = nullptr;
    NLS_NewEncodingConverter(from, to, &object);
    timeVelta(state, object, input, output);
}

// ICU's converter names for the pivot's byte order and the others.
const char* icuName(const char* velta) {
    static const std::map<std::string, const char*> names = {{"ISO-10646-UCS-2", "UTF-16LE"},
                                                             {"UTF-8", "UTF-8"},
                                                             {"latin1", "ISO-8859-1"},
                                                             {"x-mac-roman", "macintosh"},
                                                             {"UTF-7", "UTF-7"},
                                                             {"IMAP-UTF-7", "IMAP-mailbox-name"},
                                                             {"ISO-10646-UCS-4", "UTF-32LE"},
                                                             {"UTF-16LE", "UTF-16LE"},
                                                             {"UTF-16BE", "UTF-16BE"},
                                                             {"UTF-32LE", "UTF-32LE"},
                                                             {"UTF-32BE", "UTF-32BE"},
                                                             {"windows-1252", "windows-1252"},
                                                             {"GB18030", "GB18030"},
                                                             {"GBK", "windows-936"},
                                                             {"Big5", "Big5-HKSCS"},
                                                             {"EUC-KR", "windows-949"},
                                                             {"windows-31j", "windows-31j"}};
    return names.at(velta);
}

const char* iconvName(const char* velta) {
    static const std::map<std::string, const char*> names = {{"ISO-10646-UCS-2", "UTF-16LE"},
                                                             {"UTF-8", "UTF-8"},
                                                             {"latin1", "ISO-8859-1"},
                                                             {"x-mac-roman", "MACINTOSH"},
                                                             {"UTF-7", "UTF-7"},
                                                             {"ISO-10646-UCS-4", "UTF-32LE"},
                                                             {"UTF-16LE", "UTF-16LE"},
                                                             {"UTF-16BE", "UTF-16BE"},
                                                             {"UTF-32LE", "UTF-32LE"},
                                                             {"UTF-32BE", "UTF-32BE"},
                                                             {"windows-1252", "CP1252"},
                                                             {"GB18030", "GB18030"},
                                                             {"GBK", "CP936"},
                                                             {"Big5", "BIG5-HKSCS"},
                                                             {"EUC-KR", "CP949"},
                                                             {"windows-31j", "CP932"}};
    auto found = names.find(velta);
    return found == names.end() ? nullptr : found->second;
}

// ICU: the direct UTF-8 functions where they apply, else ucnv_convertEx
// between two converters (through ICU's own UTF-16 pivot).
void icuConvert(benchmark::State& state, const char* from, const char* to, Corpus corpus) {
    const Bytes& input = corpusIn(corpus, from, to);
    Bytes output(input.size() * 8 + 16);
    const std::string source = icuName(from), target = icuName(to);
    UErrorCode error = U_ZERO_ERROR;
    if (source == "UTF-8" && target == "UTF-16LE") {
        for (auto _ : state) {
            int32_t length = 0;
            error = U_ZERO_ERROR;
            u_strFromUTF8(reinterpret_cast<UChar*>(output.data()),
                          static_cast<int32_t>(output.size() / 2), &length,
                          reinterpret_cast<const char*>(input.data()),
                          static_cast<int32_t>(input.size()), &error);
            benchmark::DoNotOptimize(length);
        }
    } else if (source == "UTF-16LE" && target == "UTF-8") {
        for (auto _ : state) {
            int32_t length = 0;
            error = U_ZERO_ERROR;
            u_strToUTF8(reinterpret_cast<char*>(output.data()), static_cast<int32_t>(output.size()),
                        &length, reinterpret_cast<const UChar*>(input.data()),
                        static_cast<int32_t>(input.size() / 2), &error);
            benchmark::DoNotOptimize(length);
        }
    } else {
        UConverter* in = ucnv_open(source.c_str(), &error);
        UConverter* out = ucnv_open(target.c_str(), &error);
        std::vector<UChar> pivot(64 * 1024);
        for (auto _ : state) {
            char* target_ = reinterpret_cast<char*>(output.data());
            const char* source_ = reinterpret_cast<const char*>(input.data());
            UChar* pivotSource = pivot.data();
            UChar* pivotTarget = pivot.data();
            error = U_ZERO_ERROR;
            ucnv_convertEx(out, in, &target_, target_ + output.size(), &source_,
                           source_ + input.size(), pivot.data(), &pivotSource, &pivotTarget,
                           pivot.data() + pivot.size(), true, true, &error);
            benchmark::DoNotOptimize(target_);
        }
        ucnv_close(in);
        ucnv_close(out);
    }
    if (U_FAILURE(error)) state.SkipWithError(u_errorName(error));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size()));
}

// Times glibc's iconv over the whole input, then closes `cd`.
void timeIconv(benchmark::State& state, iconv_t cd, const Bytes& input, Bytes& output) {
    for (auto _ : state) {
        char* in = const_cast<char*>(reinterpret_cast<const char*>(input.data()));
        size_t inLeft = input.size();
        char* out = reinterpret_cast<char*>(output.data());
        size_t outLeft = output.size();
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        if (iconv(cd, &in, &inLeft, &out, &outLeft) == static_cast<size_t>(-1))
            state.SkipWithError("iconv failed");
        benchmark::DoNotOptimize(out);
    }
    iconv_close(cd);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size()));
}

void iconvConvert(benchmark::State& state, const char* from, const char* to, Corpus corpus) {
    const Bytes& input = corpusIn(corpus, from, to);
    Bytes output(input.size() * 8 + 16);
    if (iconvName(from) == nullptr || iconvName(to) == nullptr) {
        state.SkipWithError("no iconv name");
        return;
    }
    iconv_t cd = iconv_open(iconvName(to), iconvName(from));
    timeIconv(state, cd, input, output);
}

// About 1 MB of a corpus streamed through NLS_ConvertStream with outputs of
// `outputSize` bytes: a drain in small outputs must stay linear.
void veltaDrain(benchmark::State& state, const char* from, const char* to, Corpus corpus,
                uint32_t outputSize) {
    const Bytes& sample = corpusIn(corpus, from, to);
    Bytes input;
    while (input.size() < (1u << 20)) input.insert(input.end(), sample.begin(), sample.end());
    Bytes output(outputSize);
    EncodingConverter* object = nullptr;
    NLS_NewEncodingConverter(from, to, &object);
    for (auto _ : state) {
        size_t position = 0;
        NLS_Status status;
        do {
            uint32_t read = 0, written = 0;
            status = NLS_ConvertStream(object, input.data() + position,
                                       static_cast<uint32_t>(input.size() - position),
                                       output.data(), outputSize, 1, &read, &written);
            position += read;
            benchmark::DoNotOptimize(written);
        } while (status == NLS_RESULT_TRUNCATED);
        if (status != NLS_SUCCESS) state.SkipWithError("conversion failed");
    }
    NLS_DeleteEncodingConverter(object);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size()));
}

void memcpyInput(benchmark::State& state, const char* from, const char* to, Corpus corpus) {
    const Bytes& input = corpusIn(corpus, from, to);
    Bytes output(input.size());
    for (auto _ : state) {
        memcpy(output.data(), input.data(), input.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size()));
}

#ifdef VELTA_BENCH_HAVE_ENCODING_RS
// encoding_rs's name for a side: the pivot's units are its UTF-16.
const char* encodingRsName(const char* velta) {
    return strcmp(velta, "ISO-10646-UCS-2") == 0 ? "UTF-16" : velta;
}

// encoding_rs has it where one side is UTF-8 or UTF-16 and it knows the
// other by that label (the WHATWG encoding the label names).
bool encodingRsHas(const char* from, const char* to) {
    return velta_bench_encoding_rs_has(encodingRsName(from), encodingRsName(to)) == 1;
}

void timeEncodingRs(benchmark::State& state, const char* from, const char* to, const Bytes& input) {
    Bytes output(input.size() * 4 + 16);
    for (auto _ : state) {
        const ptrdiff_t written =
            velta_bench_encoding_rs_convert(encodingRsName(from), encodingRsName(to), input.data(),
                                            input.size(), output.data(), output.size());
        if (written < 0) state.SkipWithError("encoding_rs failed");
        benchmark::DoNotOptimize(written);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size()));
}

void encodingRsConvert(benchmark::State& state, const char* from, const char* to, Corpus corpus) {
    timeEncodingRs(state, from, to, corpusIn(corpus, from, to));
}
#endif

long residentKilobytes() {
    long pages = 0, resident = 0;
    FILE* statm = fopen("/proc/self/statm", "r");
    if (statm == nullptr) return 0;
    if (fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
    fclose(statm);
    return resident * 4;
}

// 64 MiB of a corpus in one NLS_ConvertBuffer call; the counter is the
// resident memory the first call added.
const Bytes& largeInput(Corpus corpus, const char* from, const char* to) {
    static std::map<std::pair<int, std::string>, Bytes> cache;
    Bytes& large = cache[{static_cast<int>(corpus), std::string(from) + to}];
    if (large.empty()) {
        const Bytes& sample = corpusIn(corpus, from, to);
        while (large.size() < (64u << 20)) large.insert(large.end(), sample.begin(), sample.end());
    }
    return large;
}

void veltaOneShotLarge(benchmark::State& state, const char* from, const char* to, Corpus corpus) {
    const Bytes& input = largeInput(corpus, from, to);
    Bytes output(input.size() * 3 + 16);
    memset(output.data(), 0, output.size());  // fault the pages in before measuring
    const long before = residentKilobytes();
    long grown = -1;
    for (auto _ : state) {
        uint32_t written = 0;
        NLS_ConvertBuffer(from, to, input.data(), static_cast<uint32_t>(input.size()),
                          output.data(), static_cast<uint32_t>(output.size()), &written);
        if (grown < 0) grown = residentKilobytes() - before;
        benchmark::DoNotOptimize(written);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size()));
    state.counters["grown_kB"] = static_cast<double>(grown);
}

void icuOneShotLarge(benchmark::State& state, const char* from, const char* to, Corpus corpus) {
    const Bytes& input = largeInput(corpus, from, to);
    Bytes output(input.size() * 3 + 16);
    memset(output.data(), 0, output.size());
    for (auto _ : state) {
        UErrorCode error = U_ZERO_ERROR;
        benchmark::DoNotOptimize(ucnv_convert(
            icuName(to), icuName(from), reinterpret_cast<char*>(output.data()),
            static_cast<int32_t>(output.size()), reinterpret_cast<const char*>(input.data()),
            static_cast<int32_t>(input.size()), &error));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size()));
}

// Short one-shot calls with names, as a program converting field by field
// makes them.
void veltaShortCall(benchmark::State& state, const char* from, const char* to, size_t length) {
    const Bytes text(corpusIn(Corpus::kLatin, from, to).begin(),
                     corpusIn(Corpus::kLatin, from, to).begin() + length);
    unsigned char output[1024];
    for (auto _ : state) {
        uint32_t written = 0;
        NLS_ConvertBuffer(from, to, text.data(), static_cast<uint32_t>(text.size()), output,
                          sizeof output, &written);
        benchmark::DoNotOptimize(written);
    }
    state.SetItemsProcessed(state.iterations());
}

// One short text a call through a conversion object made once (a program
// converting field by field through one object).
void veltaShortStream(benchmark::State& state, const char* from, const char* to, size_t length) {
    const Bytes text(corpusIn(Corpus::kLatin, from, to).begin(),
                     corpusIn(Corpus::kLatin, from, to).begin() + length);
    unsigned char output[1024];
    EncodingConverter* object = nullptr;
    NLS_NewEncodingConverter(from, to, &object);
    for (auto _ : state) {
        uint32_t read = 0, written = 0;
        NLS_ConvertStream(object, text.data(), static_cast<uint32_t>(text.size()), output,
                          sizeof output, 1, &read, &written);
        benchmark::DoNotOptimize(written);
    }
    NLS_DeleteEncodingConverter(object);
    state.SetItemsProcessed(state.iterations());
}

void icuShortCall(benchmark::State& state, const char* from, const char* to, size_t length) {
    const Bytes text(corpusIn(Corpus::kLatin, from, to).begin(),
                     corpusIn(Corpus::kLatin, from, to).begin() + length);
    char output[1024];
    for (auto _ : state) {
        UErrorCode error = U_ZERO_ERROR;
        benchmark::DoNotOptimize(ucnv_convert(icuName(to), icuName(from), output, sizeof output,
                                              reinterpret_cast<const char*>(text.data()),
                                              static_cast<int32_t>(text.size()), &error));
    }
    state.SetItemsProcessed(state.iterations());
}

struct Pair {
    const char* from;
    const char* to;
    bool wideCorpora;           // the corpora beyond Latin apply (the target holds them)
    bool largeOneShot = false;  // also 64 MiB in one call
};

const Pair kPairs[] = {
    {"UTF-8", "ISO-10646-UCS-2", true},
    {"ISO-10646-UCS-2", "UTF-8", true},
    {"latin1", "ISO-10646-UCS-2", false},
    {"ISO-10646-UCS-2", "latin1", false},
    {"x-mac-roman", "ISO-10646-UCS-2", false},
    {"ISO-10646-UCS-2", "x-mac-roman", false},
    {"UTF-7", "ISO-10646-UCS-2", true},
    {"ISO-10646-UCS-2", "UTF-7", true},
    {"IMAP-UTF-7", "ISO-10646-UCS-2", true},
    {"ISO-10646-UCS-2", "IMAP-UTF-7", true},
    {"ISO-10646-UCS-4", "ISO-10646-UCS-2", true},
    {"ISO-10646-UCS-2", "ISO-10646-UCS-4", true},
    {"UTF-8", "x-mac-roman", false, true},
    {"latin1", "UTF-8", false},
    {"UTF-16LE", "UTF-8", true, true},
    {"UTF-8", "UTF-16LE", true},
    {"UTF-16BE", "UTF-8", true},
    {"UTF-8", "UTF-16BE", true},
    {"UTF-32LE", "UTF-8", true},
    {"UTF-8", "UTF-32LE", true},
    {"UTF-32BE", "UTF-8", true},
    {"UTF-8", "UTF-32BE", true},
    {"windows-1252", "UTF-8", false},
    {"UTF-8", "windows-1252", false},
    {"GB18030", "ISO-10646-UCS-2", true},
    {"ISO-10646-UCS-2", "GB18030", true},
    {"GBK", "ISO-10646-UCS-2", true},
    {"ISO-10646-UCS-2", "GBK", true},
    {"Big5", "ISO-10646-UCS-2", true},
    {"ISO-10646-UCS-2", "Big5", true},
    {"EUC-KR", "ISO-10646-UCS-2", true},
    {"ISO-10646-UCS-2", "EUC-KR", true},
    {"windows-31j", "ISO-10646-UCS-2", true},
    {"ISO-10646-UCS-2", "windows-31j", true},
    {"GB18030", "UTF-8", true},
    {"UTF-8", "Big5", true},
};

void registerConversions() {
    for (const Pair& pair : kPairs) {
        for (Corpus corpus : {Corpus::kAscii, Corpus::kLatin, Corpus::kCjk, Corpus::kEmoji}) {
            if (!pair.wideCorpora && (corpus == Corpus::kCjk || corpus == Corpus::kEmoji)) continue;
            const std::string name =
                std::string(pair.from) + "->" + pair.to + "/" + corpusName(corpus);
            benchmark::RegisterBenchmark(("velta/" + name).c_str(), veltaStream, pair.from, pair.to,
                                         corpus);
            benchmark::RegisterBenchmark(("icu/" + name).c_str(), icuConvert, pair.from, pair.to,
                                         corpus);
            if (strcmp(pair.from, "IMAP-UTF-7") != 0 && strcmp(pair.to, "IMAP-UTF-7") != 0)
                benchmark::RegisterBenchmark(("iconv/" + name).c_str(), iconvConvert, pair.from,
                                             pair.to, corpus);
#ifdef VELTA_BENCH_HAVE_ENCODING_RS
            if (encodingRsHas(pair.from, pair.to))
                benchmark::RegisterBenchmark(("encoding_rs/" + name).c_str(), encodingRsConvert,
                                             pair.from, pair.to, corpus);
#endif
            benchmark::RegisterBenchmark(("memcpy/" + name).c_str(), memcpyInput, pair.from,
                                         pair.to, corpus);
        }
        if (pair.largeOneShot) {
            const std::string large =
                std::string(pair.from) + "->" + pair.to + "/latin 64 MiB one-shot";
            benchmark::RegisterBenchmark(("velta/" + large).c_str(), veltaOneShotLarge, pair.from,
                                         pair.to, Corpus::kLatin)
                ->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark(("icu/" + large).c_str(), icuOneShotLarge, pair.from,
                                         pair.to, Corpus::kLatin)
                ->Unit(benchmark::kMillisecond);
        }
        const std::string drained = std::string(pair.from) + "->" + pair.to + "/latin";
        for (uint32_t size : {4096u, 256u})
            benchmark::RegisterBenchmark(
                ("velta/drain " + std::to_string(size) + "/" + drained).c_str(), veltaDrain,
                pair.from, pair.to, Corpus::kLatin, size);
    }
}

// Every legacy encoding, with the prose of its language and its names in
// ICU and glibc iconv.
struct LegacyEncoding {
    const char* velta;
    const char* language;
    const char* icu;
    const char* iconv;
};

const LegacyEncoding kLegacyEncodings[] = {
    {"Shift_JIS", "japanese", "Shift_JIS", "SHIFT_JIS"},
    {"EUC-JP", "japanese", "EUC-JP", "EUC-JP"},
    {"ISO-2022-JP", "japanese", "ISO-2022-JP", "ISO-2022-JP"},
    {"windows-31j", "japanese", "windows-31j", "CP932"},
    {"GB18030", "chinese-simplified", "GB18030", "GB18030"},
    {"GBK", "chinese-simplified", "GBK", "GBK"},
    {"GB2312", "chinese-simplified", "GB2312", "EUC-CN"},
    {"Big5", "chinese-traditional", "Big5", "BIG5"},
    {"EUC-KR", "korean", "EUC-KR", "EUC-KR"},
    {"windows-874", "thai", "windows-874", "CP874"},
    {"windows-1250", "polish", "windows-1250", "CP1250"},
    {"windows-1251", "russian", "windows-1251", "CP1251"},
    {"windows-1252", "french", "windows-1252", "CP1252"},
    {"windows-1253", "greek", "windows-1253", "CP1253"},
    {"windows-1254", "turkish", "windows-1254", "CP1254"},
    {"windows-1255", "hebrew", "windows-1255", "CP1255"},
    {"windows-1256", "arabic", "windows-1256", "CP1256"},
    {"windows-1257", "lithuanian", "windows-1257", "CP1257"},
    {"windows-1258", "vietnamese", "windows-1258", "CP1258"},
    {"ISO-8859-1", "german", "ISO-8859-1", "ISO-8859-1"},
    {"ISO-8859-2", "czech", "ISO-8859-2", "ISO-8859-2"},
    {"ISO-8859-3", "esperanto", "ISO-8859-3", "ISO-8859-3"},
    {"ISO-8859-4", "latvian", "ISO-8859-4", "ISO-8859-4"},
    {"ISO-8859-5", "russian", "ISO-8859-5", "ISO-8859-5"},
    {"ISO-8859-6", "arabic", "ISO-8859-6", "ISO-8859-6"},
    {"ISO-8859-7", "greek", "ISO-8859-7", "ISO-8859-7"},
    {"ISO-8859-8", "hebrew", "ISO-8859-8", "ISO-8859-8"},
    {"ISO-8859-9", "turkish", "ISO-8859-9", "ISO-8859-9"},
    {"ISO-8859-10", "icelandic", "ISO-8859-10", "ISO-8859-10"},
    {"ISO-8859-11", "thai", "x-iso-8859-11", "ISO-8859-11"},
    {"ISO-8859-13", "lithuanian", "ISO-8859-13", "ISO-8859-13"},
    {"ISO-8859-14", "welsh", "ISO-8859-14", "ISO-8859-14"},
    {"ISO-8859-15", "french", "ISO-8859-15", "ISO-8859-15"},
    {"ISO-8859-16", "romanian", "ISO-8859-16", "ISO-8859-16"},
    {"KOI8-R", "russian", "KOI8-R", "KOI8-R"},
    {"KOI8-U", "ukrainian", "KOI8-U", "KOI8-U"},
    {"IBM866", "russian", "IBM866", "IBM866"},
    {"IBM437", "german", "IBM437", "IBM437"},
    {"IBM850", "french", "IBM850", "IBM850"},
    {"macintosh", "french", "macintosh", "MACINTOSH"},
    {"x-mac-cyrillic", "russian", "x-mac-cyrillic", "MAC-CYRILLIC"},
    {"x-mac-roman", "french", "macintosh", "MACINTOSH"},
};

// The prose of a language with only what `encoding` holds (the rest is "?"
// after a round trip), as UTF-8 or in the encoding.
const Bytes& proseIn(const LegacyEncoding& encoding, bool encoded) {
    static std::map<std::pair<std::string, bool>, Bytes> cache;
    Bytes& bytes = cache[{encoding.velta, encoded}];
    if (!bytes.empty()) return bytes;
    const std::string utf8 = makeProse(languageNamed(encoding.language));
    const Bytes encodedProse =
        veltaConvert("UTF-8", encoding.velta, Bytes(utf8.begin(), utf8.end()));
    bytes = encoded ? encodedProse : veltaConvert(encoding.velta, "UTF-8", encodedProse);
    return bytes;
}

void veltaProse(benchmark::State& state, const LegacyEncoding* encoding, bool decode) {
    const Bytes& input = proseIn(*encoding, decode);
    const char* from = decode ? encoding->velta : "UTF-8";
    const char* to = decode ? "UTF-8" : encoding->velta;
    Bytes output(input.size() * 4 + 16);
    EncodingConverter* object = nullptr;
    if (NLS_NewEncodingConverter(from, to, &object) != NLS_SUCCESS) {
        state.SkipWithError("no converter");
        return;
    }
    timeVelta(state, object, input, output);
}

// ICU's ucnv_convertEx between two of its converters, its default callback
// writing its substitution for what it cannot convert.
void timeIcuPair(benchmark::State& state, const char* from, const char* to, const Bytes& input) {
    Bytes output(input.size() * 4 + 16);
    UErrorCode error = U_ZERO_ERROR;
    UConverter* in = ucnv_open(from, &error);
    UConverter* out = ucnv_open(to, &error);
    std::vector<UChar> pivot(64 * 1024);
    for (auto _ : state) {
        if (U_FAILURE(error)) break;
        char* target = reinterpret_cast<char*>(output.data());
        const char* source = reinterpret_cast<const char*>(input.data());
        UChar* pivotSource = pivot.data();
        UChar* pivotTarget = pivot.data();
        ucnv_convertEx(out, in, &target, target + output.size(), &source, source + input.size(),
                       pivot.data(), &pivotSource, &pivotTarget, pivot.data() + pivot.size(), true,
                       true, &error);
        benchmark::DoNotOptimize(target);
    }
    ucnv_close(in);
    ucnv_close(out);
    if (U_FAILURE(error)) state.SkipWithError(u_errorName(error));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size()));
}

void icuProse(benchmark::State& state, const LegacyEncoding* encoding, bool decode) {
    timeIcuPair(state, decode ? encoding->icu : "UTF-8", decode ? "UTF-8" : encoding->icu,
                proseIn(*encoding, decode));
}

void iconvProse(benchmark::State& state, const LegacyEncoding* encoding, bool decode) {
    const Bytes& input = proseIn(*encoding, decode);
    Bytes output(input.size() * 4 + 16);
    iconv_t cd =
        decode ? iconv_open("UTF-8", encoding->iconv) : iconv_open(encoding->iconv, "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        state.SkipWithError("no iconv converter");
        return;
    }
    timeIconv(state, cd, input, output);
}

#ifdef VELTA_BENCH_HAVE_ENCODING_RS
void encodingRsProse(benchmark::State& state, const LegacyEncoding* encoding, bool decode) {
    timeEncodingRs(state, decode ? encoding->velta : "UTF-8", decode ? "UTF-8" : encoding->velta,
                   proseIn(*encoding, decode));
}
#endif

// Rows "<engine>/UTF-8->X/prose-<language>" and back, a short minimum time
// each so that the whole set runs in a few minutes.
void registerProseConversions() {
    for (const LegacyEncoding& encoding : kLegacyEncodings) {
        for (bool decode : {false, true}) {
            const std::string name = (decode ? std::string(encoding.velta) + "->UTF-8"
                                             : "UTF-8->" + std::string(encoding.velta)) +
                                     "/prose-" + encoding.language;
            benchmark::RegisterBenchmark(("velta/" + name).c_str(), veltaProse, &encoding, decode)
                ->MinTime(0.05);
            benchmark::RegisterBenchmark(("icu/" + name).c_str(), icuProse, &encoding, decode)
                ->MinTime(0.05);
            benchmark::RegisterBenchmark(("iconv/" + name).c_str(), iconvProse, &encoding, decode)
                ->MinTime(0.05);
#ifdef VELTA_BENCH_HAVE_ENCODING_RS
            const char* from = decode ? encoding.velta : "UTF-8";
            const char* to = decode ? "UTF-8" : encoding.velta;
            if (encodingRsHas(from, to))
                benchmark::RegisterBenchmark(("encoding_rs/" + name).c_str(), encodingRsProse,
                                             &encoding, decode)
                    ->MinTime(0.05);
#endif
        }
    }
}

// Text with much to replace, under the default policy: prose into an
// encoding of another script (a character it lacks every few bytes), and
// French in windows-1252 read as UTF-8 (a malformed byte every few). ICU
// replaces too; glibc iconv stops at the first, so it has no row.
struct ReplacedText {
    const char* to;
    const char* icuTo;
    const char* language;
    bool windows1252Bytes;
};

const ReplacedText kReplacedTexts[] = {
    {"ISO-8859-2", "ISO-8859-2", "french", false},
    {"KOI8-R", "KOI8-R", "french", false},
    {"GBK", "GBK", "french", false},
    {"x-mac-roman", "macintosh", "chinese-simplified", false},
    {"UTF-16LE", "UTF-16LE", "french", true},
    {"UTF-32LE", "UTF-32LE", "french", true},
    {"windows-1252", "windows-1252", "french", true},
};

const Bytes& replacedInput(const ReplacedText& text) {
    static std::map<std::pair<std::string, bool>, Bytes> cache;
    Bytes& bytes = cache[{text.language, text.windows1252Bytes}];
    if (!bytes.empty()) return bytes;
    const std::string utf8 = makeProse(languageNamed(text.language));
    bytes.assign(utf8.begin(), utf8.end());
    if (text.windows1252Bytes) bytes = veltaConvert("UTF-8", "windows-1252", bytes);
    return bytes;
}

void veltaReplaced(benchmark::State& state, const ReplacedText* text) {
    const Bytes& input = replacedInput(*text);
    Bytes output(input.size() * 4 + 16);
    EncodingConverter* object = nullptr;
    if (NLS_NewEncodingConverter("UTF-8", text->to, &object) != NLS_SUCCESS) {
        state.SkipWithError("no converter");
        return;
    }
    timeVelta(state, object, input, output);
}

void icuReplaced(benchmark::State& state, const ReplacedText* text) {
    timeIcuPair(state, "UTF-8", text->icuTo, replacedInput(*text));
}

// Rows "<engine>/UTF-8->X/replaced-<language>" and ".../replaced-windows-1252-<language>".
void registerReplacedConversions() {
    for (const ReplacedText& text : kReplacedTexts) {
        const std::string name = "UTF-8->" + std::string(text.to) + "/replaced-" +
                                 (text.windows1252Bytes ? "windows-1252-" : "") + text.language;
        benchmark::RegisterBenchmark(("velta/" + name).c_str(), veltaReplaced, &text)
            ->MinTime(0.05);
        benchmark::RegisterBenchmark(("icu/" + name).c_str(), icuReplaced, &text)->MinTime(0.05);
    }
}

// The iconv interface, Velta's or glibc's, on about 1 MB of a corpus
// converted in output pieces of 4 KB, the way programs call iconv.
struct IconvCalls {
    void* (*open)(const char*, const char*);
    size_t (*convert)(void*, char**, size_t*, char**, size_t*);
    int (*close)(void*);
};

void* glibcIconvOpen(const char* to, const char* from) {
    return iconv_open(to, from);
}
size_t glibcIconv(void* cd, char** in, size_t* inLeft, char** out, size_t* outLeft) {
    return iconv(static_cast<iconv_t>(cd), in, inLeft, out, outLeft);
}
int glibcIconvClose(void* cd) {
    return iconv_close(static_cast<iconv_t>(cd));
}

const IconvCalls kGlibcIconv = {glibcIconvOpen, glibcIconv, glibcIconvClose};
const IconvCalls kVeltaIconv = {velta_iconv_open, velta_iconv, velta_iconv_close};

void iconvInPieces(benchmark::State& state, IconvCalls calls, const char* from, const char* to,
                   Corpus corpus) {
    const Bytes& whole = corpusIn(corpus, from, to);
    const Bytes input(whole.begin(), whole.begin() + whole.size() / 4);  // about 1 MB
    void* cd = calls.open(to, from);
    if (cd == reinterpret_cast<void*>(-1)) {
        state.SkipWithError("no such conversion");
        return;
    }
    char piece[4096];
    for (auto _ : state) {
        calls.convert(cd, nullptr, nullptr, nullptr, nullptr);
        char* in = const_cast<char*>(reinterpret_cast<const char*>(input.data()));
        size_t inLeft = input.size();
        for (;;) {
            char* out = piece;
            size_t outLeft = sizeof piece;
            const size_t result = calls.convert(cd, &in, &inLeft, &out, &outLeft);
            benchmark::DoNotOptimize(piece[0]);
            if (result != static_cast<size_t>(-1) || errno != E2BIG) break;
        }
    }
    calls.close(cd);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size()));
}

void registerIconvRows() {
    struct Row {
        const char* from;
        const char* to;
        Corpus corpus;
    };
    const Row rows[] = {{"UTF-8", "UTF-16LE", Corpus::kLatin},
                        {"Shift_JIS", "UTF-8", Corpus::kCjk},
                        {"windows-1252", "UTF-8", Corpus::kLatin}};
    for (const Row& row : rows) {
        const std::string name = std::string(row.from) + "->" + row.to + "/" +
                                 corpusName(row.corpus) + " 1 MB in 4 KB pieces";
        benchmark::RegisterBenchmark(("velta/iconv/" + name).c_str(), iconvInPieces, kVeltaIconv,
                                     row.from, row.to, row.corpus);
        benchmark::RegisterBenchmark(("iconv/iconv/" + name).c_str(), iconvInPieces, kGlibcIconv,
                                     row.from, row.to, row.corpus);
    }
}

void veltaMakeAndDelete(benchmark::State& state, const char* from, const char* to) {
    for (auto _ : state) {
        EncodingConverter* object = nullptr;
        NLS_NewEncodingConverter(from, to, &object);
        NLS_DeleteEncodingConverter(object);
    }
}

void icuOpenAndClose(benchmark::State& state, const char* name) {
    for (auto _ : state) {
        UErrorCode error = U_ZERO_ERROR;
        ucnv_close(ucnv_open(name, &error));
    }
}

void iconvOpenAndClose(benchmark::State& state, const char* from, const char* to) {
    for (auto _ : state) iconv_close(iconv_open(to, from));
}

// Starting the library from a data directory whose encreg.txt holds 10,000
// records (and an aliasreg.txt of as many aliases).
void loadLargeRegistryFiles(benchmark::State& state) {
    char pattern[] = "/tmp/velta-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        state.SkipWithError("no temporary directory");
        return;
    }
    const std::string directory = pattern;
    const std::string conv30 = directory + "/conv30";
    mkdir(conv30.c_str(), 0755);
    FILE* encreg = fopen((conv30 + "/encreg.txt").c_str(), "w");
    FILE* aliasreg = fopen((conv30 + "/aliasreg.txt").c_str(), "w");
    for (int i = 0; i < 10000; ++i) {
        fprintf(encreg, "x-bench-%d ISO-10646-UCS-2 benchlib NEWBENCH%d #\n", i, i);
        fprintf(aliasreg, "x-alias-%d x-bench-%d\n", i, i);
    }
    fclose(encreg);
    fclose(aliasreg);
    for (auto _ : state) {
        NLS_EncInitialize(nullptr, directory.c_str());
        benchmark::DoNotOptimize(NLS_GetNormalizedEncodingName("x-alias-9999"));
        NLS_EncTerminate();
    }
    remove((conv30 + "/encreg.txt").c_str());
    remove((conv30 + "/aliasreg.txt").c_str());
    rmdir(conv30.c_str());
    rmdir(directory.c_str());
    NLS_EncInitialize(nullptr, nullptr);
}

// The library started and stopped, reading the registry files it finds by
// itself, and one name looked up.
void initializeWithShippedFiles(benchmark::State& state) {
    NLS_EncTerminate();
    for (auto _ : state) {
        NLS_EncInitialize(nullptr, nullptr);
        benchmark::DoNotOptimize(NLS_GetNormalizedEncodingName("cp1252"));
        NLS_EncTerminate();
    }
    NLS_EncInitialize(nullptr, nullptr);
}

void normalizeName(benchmark::State& state, const char* name) {
    for (auto _ : state) benchmark::DoNotOptimize(NLS_GetNormalizedEncodingName(name));
}

// A million distinct unknown names through every function that takes a name,
// then the time of a known name's lookup; the counter is the resident memory
// they added.
void normalizeAfterUnknownNames(benchmark::State& state) {
    static long grownKilobytes = -1;
    if (grownKilobytes < 0) {
        const long before = residentKilobytes();
        unsigned char out[16];
        uint32_t written = 0;
        for (int i = 0; i < 1000000; ++i) {
            char name[32];
            snprintf(name, sizeof name, "x-label-%d", i);
            NLS_GetNormalizedEncodingName(name);
            NLS_EncodingConverterExists(name, "UTF-8");
            NLS_ConvertBuffer(name, "UTF-8", out, 1, out, sizeof out, &written);
            NLS_GetJavaEncodingName(name);
            NLS_GetEncodingNameFromJava(name);
        }
        grownKilobytes = residentKilobytes() - before;
    }
    for (auto _ : state) benchmark::DoNotOptimize(NLS_GetNormalizedEncodingName("latin1"));
    state.counters["grown_kB"] = static_cast<double>(grownKilobytes);
}

}  // namespace

int main(int argc, char** argv) {
    NLS_EncInitialize(nullptr, nullptr);
    registerConversions();
    registerProseConversions();
    registerReplacedConversions();
    registerIconvRows();
    benchmark::RegisterBenchmark("velta/names/normalize latin1 after 1000000 unknown names",
                                 normalizeAfterUnknownNames);
    benchmark::RegisterBenchmark("velta/object/direct UTF-8->ISO-10646-UCS-2", veltaMakeAndDelete,
                                 "UTF-8", "ISO-10646-UCS-2");
    benchmark::RegisterBenchmark("velta/object/chain UTF-8->x-mac-roman", veltaMakeAndDelete,
                                 "UTF-8", "x-mac-roman");
    for (size_t length : {16, 100}) {
        const std::string size = std::to_string(length) + " B";
        benchmark::RegisterBenchmark(
            ("velta/object/one-shot " + size + " UTF-8->ISO-10646-UCS-2").c_str(), veltaShortCall,
            "UTF-8", "ISO-10646-UCS-2", length);
        benchmark::RegisterBenchmark(
            ("icu/object/ucnv_convert " + size + " UTF-8->UTF-16LE").c_str(), icuShortCall, "UTF-8",
            "ISO-10646-UCS-2", length);
        benchmark::RegisterBenchmark(
            ("velta/object/one-shot " + size + " UTF-8->x-mac-roman").c_str(), veltaShortCall,
            "UTF-8", "x-mac-roman", length);
        benchmark::RegisterBenchmark(
            ("icu/object/ucnv_convert " + size + " UTF-8->macintosh").c_str(), icuShortCall,
            "UTF-8", "x-mac-roman", length);
    }
    // Chains (through the UCS-2 pivot) streamed in 4 KB outputs and in one
    // output, and 15-byte calls through a chain and through direct ones.
    const struct {
        const char* from;
        const char* to;
        Corpus corpus;
    } chains[] = {{"UTF-8", "windows-1252", Corpus::kLatin},
                  {"GB18030", "UTF-8", Corpus::kCjk},
                  {"Shift_JIS", "UTF-16LE", Corpus::kCjk}};
    for (const auto& chain : chains) {
        const std::string name =
            std::string(chain.from) + "->" + chain.to + "/" + corpusName(chain.corpus);
        benchmark::RegisterBenchmark(("velta/chain/1 MB in 4 KB outputs " + name).c_str(),
                                     veltaDrain, chain.from, chain.to, chain.corpus, 4096u);
        benchmark::RegisterBenchmark(("velta/chain/1 MB in one output " + name).c_str(), veltaDrain,
                                     chain.from, chain.to, chain.corpus, 8u << 20);
    }
    for (const char* to : {"windows-1252", "ISO-10646-UCS-2", "UTF-16LE"})
        benchmark::RegisterBenchmark(("velta/object/stream 15 B UTF-8->" + std::string(to)).c_str(),
                                     veltaShortStream, "UTF-8", to, 15);
    benchmark::RegisterBenchmark("velta/object/stream 15 B ISO-10646-UCS-2->windows-1252",
                                 veltaShortStream, "ISO-10646-UCS-2", "windows-1252", 30);
    for (int threads : {1, 2})
        benchmark::RegisterBenchmark("velta/threads/one-shot 16 B UTF-8->ISO-10646-UCS-2",
                                     veltaShortCall, "UTF-8", "ISO-10646-UCS-2", 16)
            ->Threads(threads)
            ->UseRealTime();
    benchmark::RegisterBenchmark("icu/object/ucnv_open UTF-8", icuOpenAndClose, "UTF-8");
    benchmark::RegisterBenchmark("icu/object/ucnv_open macintosh", icuOpenAndClose, "macintosh");
    benchmark::RegisterBenchmark("iconv/object/iconv_open UTF-8->UTF-16LE", iconvOpenAndClose,
                                 "UTF-8", "UTF-16LE");
    benchmark::RegisterBenchmark("velta/names/normalize latin1", normalizeName, "latin1");
    benchmark::RegisterBenchmark("velta/names/normalize ISO_8859-1:1987", normalizeName,
                                 "ISO_8859-1:1987");
    benchmark::RegisterBenchmark("velta/registry/load 10000 records", loadLargeRegistryFiles)
        ->Unit(benchmark::kMillisecond);
    // Names the shipped registry files give (some 1,600 of them).
    benchmark::RegisterBenchmark("velta/names/normalize cp1252", normalizeName, "cp1252");
    benchmark::RegisterBenchmark("velta/names/normalize ebcdic-cp-us", normalizeName,
                                 "ebcdic-cp-us");
    benchmark::RegisterBenchmark("velta/names/normalize x-unknown", normalizeName, "x-unknown");
    benchmark::RegisterBenchmark("velta/registry/initialize with the shipped files",
                                 initializeWithShippedFiles)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("velta/object/chain UTF-8->IBM037", veltaMakeAndDelete, "UTF-8",
                                 "IBM037");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    NLS_EncTerminate();
    return 0;
}
