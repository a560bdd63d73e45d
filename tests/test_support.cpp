#include "test_support.h"

#ifdef VELTA_HAVE_ICONV
#include <iconv.h>
#endif

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>

namespace velta_test {

Bytes bytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

Bytes hexBytes(const char* text) {
    Bytes result;
    while (*text != 0) {
        if (*text == ' ') {
            ++text;
            continue;
        }
        unsigned value = 0;
        sscanf(text, "%2x", &value);
        result.push_back(static_cast<unsigned char>(value));
        text += 2;
    }
    return result;
}

Bytes ucs2(const std::u16string& text) {
    Bytes result(text.size() * 2);
    if (!result.empty()) memcpy(result.data(), text.data(), result.size());
    return result;
}

Bytes ucs4(const std::u32string& text) {
    Bytes result(text.size() * 4);
    if (!result.empty()) memcpy(result.data(), text.data(), result.size());
    return result;
}

std::u16string fromUcs2(const Bytes& data) {
    std::u16string text(data.size() / 2, u'\0');
    if (!text.empty()) memcpy(&text[0], data.data(), text.size() * 2);
    return text;
}

std::string hex(const Bytes& data) {
    std::string text;
    char digits[4];
    for (size_t i = 0; i < data.size(); ++i) {
        snprintf(digits, sizeof digits, i ? " %02X" : "%02X", data[i]);
        text += digits;
    }
    return text;
}

GuardedBuffer::GuardedBuffer(uint32_t capacity)
    : fCapacity(capacity), fStorage(capacity + kGuard, 0xA5) {}

bool GuardedBuffer::guardIntact() const {
    return std::all_of(fStorage.begin() + fCapacity, fStorage.end(),
                       [](unsigned char b) { return b == 0xA5; });
}

Conversion convertOneShot(const char* from, const char* to, const Bytes& input) {
    Conversion result;
    EncodingConverter* object = nullptr;
    result.status = NLS_NewEncodingConverter(from, to, &object);
    if (result.status != NLS_SUCCESS) return result;
    const uint32_t capacity = static_cast<uint32_t>(input.size()) * 8 + 16;
    GuardedBuffer output(capacity);
    uint32_t written = 0;
    result.status =
        NLS_ConvertStreamBuffer(object, input.data(), static_cast<uint32_t>(input.size()),
                                output.data(), capacity, &written);
    EXPECT_TRUE(output.guardIntact());
    result.output = output.prefix(written);
    NLS_DeleteEncodingConverter(object);
    return result;
}

namespace {

// The overflow protocol: drain while the status is 2 or input is carried.
NLS_Status drain(EncodingConverter* object, NLS_Status status, uint32_t drainSize, Bytes* output) {
    for (int rounds = 0;; ++rounds) {
        uint32_t overflow = 0;
        NLS_GetConversionOverflowSize(object, &overflow);
        if (status != NLS_RESULT_TRUNCATED && overflow == 0) return status;
        if (rounds > 1000000) {
            ADD_FAILURE() << "drain loop does not end";
            return status;
        }
        const uint32_t size = std::max(drainSize, overflow);
        GuardedBuffer buffer(size);
        uint32_t written = 0;
        const NLS_Status next = NLS_ConverterGetOverflow(object, buffer.data(), size, &written);
        EXPECT_TRUE(buffer.guardIntact());
        EXPECT_LE(written, size);
        output->insert(output->end(), buffer.data(), buffer.data() + written);
        uint32_t remaining = 0;
        NLS_GetConversionOverflowSize(object, &remaining);
        // Carried input that neither shrinks nor yields output under a
        // non-2 status is left for the caller: the drain ends there.
        if (next != NLS_RESULT_TRUNCATED && (remaining == overflow && written == 0)) return next;
        status = next;
    }
}

}  // namespace

Conversion convertDrained(const char* from, const char* to, const Bytes& input, uint32_t firstSize,
                          uint32_t drainSize) {
    Conversion result;
    EncodingConverter* object = nullptr;
    result.status = NLS_NewEncodingConverter(from, to, &object);
    if (result.status != NLS_SUCCESS) return result;
    GuardedBuffer first(firstSize);
    uint32_t written = 0;
    NLS_Status status =
        NLS_ConvertStreamBuffer(object, input.data(), static_cast<uint32_t>(input.size()),
                                first.data(), firstSize, &written);
    EXPECT_TRUE(first.guardIntact());
    EXPECT_LE(written, firstSize);
    result.output = first.prefix(written);
    result.status = drain(object, status, drainSize, &result.output);
    NLS_DeleteEncodingConverter(object);
    return result;
}

Conversion convertInPieces(const char* from, const char* to, const Bytes& input,
                           const std::vector<uint32_t>& cuts, uint32_t outputSize) {
    Conversion result;
    EncodingConverter* object = nullptr;
    result.status = NLS_NewEncodingConverter(from, to, &object);
    if (result.status != NLS_SUCCESS) return result;
    Bytes carried;
    uint32_t start = 0;
    std::vector<uint32_t> ends(cuts);
    ends.push_back(static_cast<uint32_t>(input.size()));
    for (uint32_t end : ends) {
        if (end < start) continue;
        Bytes piece(carried);
        piece.insert(piece.end(), input.begin() + start, input.begin() + end);
        start = end;
        GuardedBuffer buffer(outputSize);
        uint32_t written = 0;
        NLS_Status status =
            NLS_ConvertStreamBuffer(object, piece.data(), static_cast<uint32_t>(piece.size()),
                                    buffer.data(), outputSize, &written);
        EXPECT_TRUE(buffer.guardIntact());
        result.output.insert(result.output.end(), buffer.data(), buffer.data() + written);
        // Drain what the output could not take; input cut inside a character
        // stays carried and is prepended to the next piece.
        status = drain(object, status, outputSize, &result.output);
        uint32_t carriedSize = 0;
        NLS_GetConversionOverflowSize(object, &carriedSize);
        carriedSize /= 7;
        carried.assign(piece.end() - carriedSize, piece.end());
        result.status = status;
    }
    if (!carried.empty()) {
        result.status = NLS_SEQUENCE_INCOMPLETE;
    }
    NLS_DeleteEncodingConverter(object);
    return result;
}

void BuiltInLibraryTest::SetUp() {
    static const TemporaryDirectory empty;
    ASSERT_EQ(NLS_EncInitialize(nullptr, empty.path().c_str()), NLS_SUCCESS);
}

void setEnvironment(const char* name, const char* value) {
#if defined(_WIN32)
    _putenv_s(name, value);
#else
    setenv(name, value, 1);
#endif
}

void unsetEnvironment(const char* name) {
#if defined(_WIN32)
    _putenv_s(name, "");
#else
    unsetenv(name);
#endif
}

TemporaryDirectory::TemporaryDirectory() {
    namespace fs = std::filesystem;
    std::random_device device;
    std::error_code error;
    for (int attempt = 0; attempt < 100 && fPath.empty(); ++attempt) {
        const fs::path candidate =
            fs::temp_directory_path(error) / ("velta-" + std::to_string(device()));
        if (fs::create_directory(candidate, error)) fPath = candidate.string();
    }
    fs::create_directory(fs::path(fPath) / "conv30", error);
}

TemporaryDirectory::~TemporaryDirectory() {
    std::error_code error;
    if (!fPath.empty()) std::filesystem::remove_all(fPath, error);
}

void TemporaryDirectory::writeDataFile(const std::string& name, const std::string& contents) const {
    FILE* file = fopen((dataPath() + name).c_str(), "wb");
    ASSERT_NE(file, nullptr);
    fwrite(contents.data(), 1, contents.size(), file);
    fclose(file);
}

#ifdef VELTA_HAVE_ICONV
std::string iconvText(const char* to, const char* from, const std::string& text, bool* ok) {
    if (ok != nullptr) *ok = false;
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return "";
    std::string output(text.size() * 4 + 64, '\0');
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    char* out = &output[0];
    size_t outLeft = output.size();
    const bool converted = iconv(cd, &in, &inLeft, &out, &outLeft) != static_cast<size_t>(-1) &&
                           iconv(cd, nullptr, nullptr, &out, &outLeft) != static_cast<size_t>(-1);
    iconv_close(cd);
    if (ok != nullptr) *ok = converted;
    output.resize(output.size() - outLeft);
    return output;
}
#endif

void TemporaryDirectory::installShippedData() const {
    auto copy = [](const std::string& from, const std::string& to) {
        std::ifstream in(from, std::ios::binary);
        std::ofstream out(to, std::ios::binary);
        out << in.rdbuf();
    };
    for (const char* file : {"encreg.txt", "aliasreg.txt", "javareg.txt"})
        copy(std::string(VELTA_SOURCE_DIR) + "/data/conv30/" + file, dataPath() + file);
    copy(VELTA_JPCONV, dataPath() + "jpconv" + kLibrarySuffix);
    copy(VELTA_CJKCONV, dataPath() + "cjkconv" + kLibrarySuffix);
}

void TemporaryDirectory::installPlugin(const std::string& name) const {
#ifdef VELTA_TEST_PLUGIN
    std::ifstream in(VELTA_TEST_PLUGIN, std::ios::binary);
    std::ofstream out(dataPath() + name + kLibrarySuffix, std::ios::binary);
    out << in.rdbuf();
#else
    (void)name;
#endif
}

}  // namespace velta_test
