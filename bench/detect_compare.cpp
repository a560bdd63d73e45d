// How often Velta, uchardet and ICU's ucsdet name the encoding of the samples
// detect/make_samples.py writes, and how fast each reads them. A detector is
// right when it names an encoding that reads the sample as the same
// characters (the manifest lists them); names are compared after Velta's
// alias table resolves them. Prints Markdown tables: accuracy per encoding
// and length, and MB/s over all samples (each detector made once, then run
// on every sample in turn, as a program guessing many files would).
//
// Usage: velta_detect_compare <samples folder>
#include <stdio.h>
#include <string.h>
#include <unicode/ucsdet.h>

#include <chrono>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#ifdef VELTA_HAVE_UCHARDET
#include <uchardet.h>
#endif

#include "velta/nls.h"

namespace {

struct Sample {
    std::string encoding;
    std::string language;
    int length = 0;
    std::set<std::string> right;
    std::string bytes;
};

std::string canonical(const std::string& name) {
    const char* known = NLS_GetNormalizedEncodingName(name.c_str());
    std::string result = known != nullptr && *known != '\0' ? known : name;
    for (char& c : result) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return result;
}

std::vector<Sample> readSamples(const std::string& folder) {
    std::vector<Sample> samples;
    std::ifstream manifest(folder + "/manifest.tsv");
    std::string line;
    while (std::getline(manifest, line)) {
        std::istringstream fields(line);
        std::string file, length, right;
        Sample sample;
        std::getline(fields, file, '\t');
        std::getline(fields, sample.encoding, '\t');
        std::getline(fields, sample.language, '\t');
        std::getline(fields, length, '\t');
        std::getline(fields, right, '\t');
        sample.length = atoi(length.c_str());
        std::istringstream names(right);
        std::string name;
        while (std::getline(names, name, ',')) sample.right.insert(canonical(name));
        std::ifstream data(folder + "/" + file, std::ios::binary);
        sample.bytes.assign(std::istreambuf_iterator<char>(data), std::istreambuf_iterator<char>());
        samples.push_back(sample);
    }
    return samples;
}

struct Detector {
    const char* name;
    virtual ~Detector() = default;
    virtual std::string guess(const std::string& bytes) = 0;
};

struct Velta : Detector {
    Velta() { name = "Velta"; }
    std::string guess(const std::string& bytes) override {
        NLS_EncodingGuess guess = {nullptr, 0};
        uint32_t count = 0;
        NLS_GuessEncodings(reinterpret_cast<const unsigned char*>(bytes.data()),
                           static_cast<uint32_t>(bytes.size()), &guess, 1, &count);
        return count != 0 ? guess.encodingName : "";
    }
};

struct Icu : Detector {
    UCharsetDetector* detector;
    Icu() {
        name = "ICU ucsdet";
        UErrorCode status = U_ZERO_ERROR;
        detector = ucsdet_open(&status);
    }
    ~Icu() override { ucsdet_close(detector); }
    std::string guess(const std::string& bytes) override {
        UErrorCode status = U_ZERO_ERROR;
        ucsdet_setText(detector, bytes.data(), static_cast<int32_t>(bytes.size()), &status);
        const UCharsetMatch* match = ucsdet_detect(detector, &status);
        const char* found = match != nullptr ? ucsdet_getName(match, &status) : nullptr;
        return U_SUCCESS(status) && found != nullptr ? found : "";
    }
};

#ifdef VELTA_HAVE_UCHARDET
struct Uchardet : Detector {
    uchardet_t detector;
    Uchardet() {
        name = "uchardet";
        detector = uchardet_new();
    }
    ~Uchardet() override { uchardet_delete(detector); }
    std::string guess(const std::string& bytes) override {
        uchardet_reset(detector);
        uchardet_handle_data(detector, bytes.data(), bytes.size());
        uchardet_data_end(detector);
        const char* found = uchardet_get_charset(detector);
        return found != nullptr ? found : "";
    }
};
#endif

double megabytesPerSecond(Detector& detector, const std::vector<Sample>& samples) {
    size_t bytes = 0, rounds = 0, answered = 0;
    const auto start = std::chrono::steady_clock::now();
    double seconds = 0;
    do {
        for (const Sample& sample : samples) {
            answered += detector.guess(sample.bytes).empty() ? 0 : 1;
            bytes += sample.bytes.size();
        }
        ++rounds;
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    } while (seconds < 1.0 && rounds < 100);
    if (answered == 0) fprintf(stderr, "%s named nothing\n", detector.name);
    return bytes / seconds / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: velta_detect_compare <samples folder>\n");
        return 2;
    }
    NLS_EncInitialize(nullptr, nullptr);
    const std::vector<Sample> samples = readSamples(argv[1]);
    if (samples.empty()) {
        fprintf(stderr, "no samples in %s\n", argv[1]);
        return 1;
    }
    std::vector<Detector*> detectors = {new Velta};
#ifdef VELTA_HAVE_UCHARDET
    detectors.push_back(new Uchardet);
#endif
    detectors.push_back(new Icu);
    // right[encoding][length][detector], and the totals under "all".
    std::map<std::string, std::map<int, std::vector<int>>> right, total;
    std::set<int> lengths;
    for (const Sample& sample : samples) {
        lengths.insert(sample.length);
        for (const std::string& row : {sample.encoding, std::string("all")}) {
            auto& hits = right[row][sample.length];
            auto& seen = total[row][sample.length];
            hits.resize(detectors.size());
            seen.resize(detectors.size());
            for (size_t d = 0; d < detectors.size(); ++d) {
                hits[d] += sample.right.count(canonical(detectors[d]->guess(sample.bytes))) != 0;
                ++seen[d];
            }
        }
    }
    printf("| Encoding | Bytes | Samples |");
    for (Detector* detector : detectors) printf(" %s |", detector->name);
    printf("\n|---|---|---|");
    for (size_t d = 0; d < detectors.size(); ++d) printf("---|");
    printf("\n");
    for (const auto& row : right) {
        for (int length : lengths) {
            if (row.second.count(length) == 0) continue;
            const auto& hits = row.second.at(length);
            const int seen = total[row.first][length][0];
            printf("| %s | %d | %d |", row.first.c_str(), length, seen);
            for (size_t d = 0; d < detectors.size(); ++d)
                printf(" %.1f%% |", 100.0 * hits[d] / seen);
            printf("\n");
        }
    }
    printf("\n| Detector | MB/s over all samples |\n|---|---|\n");
    for (Detector* detector : detectors) {
        printf("| %s | %.1f |\n", detector->name, megabytesPerSecond(*detector, samples));
        delete detector;
    }
    return 0;
}
