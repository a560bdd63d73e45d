// The single-byte guesses on held-out text (tests/data/detect_samples, made
// by detect/make_samples.py), the language with each guess, and the guesser
// fed piece by piece.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "velta/velta.hpp"

namespace {

struct Sample {
    std::string file, encoding, language;
    std::set<std::string> right;  // encodings that read it as the same characters
    std::string bytes;
};

std::vector<Sample> samples() {
    const std::string folder = std::string(VELTA_SOURCE_DIR) + "/tests/data/detect_samples/";
    std::ifstream manifest(folder + "manifest.tsv");
    std::vector<Sample> all;
    std::string line;
    while (std::getline(manifest, line)) {
        std::istringstream fields(line);
        Sample sample;
        std::string length, right, name;
        std::getline(fields, sample.file, '\t');
        std::getline(fields, sample.encoding, '\t');
        std::getline(fields, sample.language, '\t');
        std::getline(fields, length, '\t');
        std::getline(fields, right, '\t');
        std::istringstream names(right);
        while (std::getline(names, name, ',')) sample.right.insert(name);
        std::ifstream data(folder + sample.file, std::ios::binary);
        sample.bytes.assign(std::istreambuf_iterator<char>(data), std::istreambuf_iterator<char>());
        all.push_back(sample);
    }
    return all;
}

std::vector<NLS_LanguageGuess> guessesOf(const std::string& bytes) {
    std::vector<NLS_LanguageGuess> guesses(24);
    size_t count = 0;
    NLS_GuessEncodingsAndLanguages(reinterpret_cast<const unsigned char*>(bytes.data()),
                                   bytes.size(), guesses.data(), guesses.size(), &count);
    guesses.resize(count);
    return guesses;
}

// Every encoding is named (or one that reads the sample the same), all but
// one sample in fifty; the first guess of a sample in a language's own
// encoding names its language.
TEST(GuessLanguages, NamesTheSingleByteEncodingOfHeldOutText) {
    const std::vector<Sample> all = samples();
    ASSERT_GE(all.size(), 50u);
    std::set<std::string> encodings;
    size_t wrong = 0;
    for (const Sample& sample : all) {
        encodings.insert(sample.encoding);
        const std::vector<NLS_LanguageGuess> guesses = guessesOf(sample.bytes);
        ASSERT_FALSE(guesses.empty()) << sample.file;
        const bool right = sample.right.count(guesses[0].encodingName) != 0;
        wrong += !right;
        EXPECT_TRUE(right || wrong <= all.size() / 50)
            << sample.file << ": " << guesses[0].encodingName;
        for (size_t i = 1; i < guesses.size(); ++i)
            EXPECT_LE(guesses[i].confidence, guesses[i - 1].confidence) << sample.file;
    }
    EXPECT_GE(encodings.size(), 27u) << "a sample set for each encoding";
}

// Text two encodings read alike is named by the one users expect, the other
// next with the same confidence.
TEST(GuessLanguages, TwinsComeInTheExpectedOrder) {
    const struct {
        const char* text;
        const char* first;
        const char* next;
    } cases[] = {
        {"Die Stra\xDF"
         "e f\xFChrt \xFC"
         "ber die Br\xFC"
         "cke zum sch\xF6nen Gr\xFCn",
         "windows-1252", nullptr},
        {"\xF9\xEC\xE5\xED \xF2\xE5\xEC\xED, \xEE\xE4 \xF9\xEC\xE5\xEE\xEA \xE4\xE9\xE5\xED?",
         "windows-1255", "ISO-8859-8"},
    };
    for (const auto& c : cases) {
        const std::vector<NLS_LanguageGuess> guesses = guessesOf(c.text);
        ASSERT_GE(guesses.size(), 2u) << c.first;
        EXPECT_STREQ(guesses[0].encodingName, c.first);
        if (c.next == nullptr) continue;
        size_t next = 1;
        while (next < guesses.size() && strcmp(guesses[next].encodingName, c.next) != 0) ++next;
        ASSERT_LT(next, guesses.size()) << c.next;
        EXPECT_EQ(guesses[next].confidence, guesses[0].confidence) << c.next;
    }
}

// Lists of names from many languages (the ISO 639 catalogs in French) read
// better as Hungarian or Polish in windows-1250, by the few bytes it reads as
// other letters.
TEST(GuessLanguages, ListsOfForeignNamesInWindows1252StayWindows1252) {
    const char* const lists[] = {
        "aguaruna aguna manobo agusien agutaynen agwagwune ahanta aheri gond\xEE aheu a"
        "hirani ahom ahtena ahwai ai-cham aighon aikan\xE3 aiklep aimaq aimele aimol ai"
        "nbai a\xEFnou (Chine) a\xEFnou (Japon) aiome airoran aiton a\xEFzi, Apro"
        "umu a\xEFzi, Mobumrin a\xEFzi, Tiagbamrin aja-gbe ajawa aji\xEB ajumbu a"
        "jy\xEDninka Apurucayali",
        "wolof wolof, gambien wom (Nig\xE9ria) wom (Papouasie-Nouvelle-Guin\xE9"
        "e) wo"
        "mo wongo cree des for\xEAts woria worimi worodougou worrorra wotapuri-katarqal"
        "ai wotjobaluk wotu woun Meu oirat \xE9"
        "crit chinois Wu yi de Wuding-Luquan wudu"
        " wuliwuli wulna wumboko wumbvu nasu de Wumeng bunu de Wunai wunambal wunumara wur"
        "rugu nasu de Wusa wuchi wusi wutung wutunhua wuvulu-aua wuzlam wyandot wymysorys "
        "w\xE1ra w\xE3pha w\xE8 septentrional w\xE8 m\xE9ridional w\xE8 "
        "occidental xaasongaxango",
    };
    for (const char* list : lists) {
        const std::vector<NLS_LanguageGuess> guesses = guessesOf(list);
        ASSERT_FALSE(guesses.empty());
        EXPECT_STREQ(guesses[0].encodingName, "windows-1252") << list;
    }
}

// Croatian in ISO-8859-16 with an accented letter in some thirty bytes: each
// reads as a Big5 character with its trail byte below 0x80.
TEST(GuessLanguages, LatinTextWithFewAccentsIsNotBig5) {
    const std::vector<NLS_LanguageGuess> guesses = guessesOf(
        "Jemen, Demokratski, Narodna Demokratska Republika\nZair\nADB obra\xB9unska jedinica\n"
        "Afganistanski afgani\nAl\xB8irski dinar\nArgentinski pezo\nArmenski dram\n"
        "Arupski florin\nAustralski dolar\nAzerbajd\xB8"
        "anski manat\nBahamski dolar\n"
        "Bahreinski dinar\nTajlandski baht\nPanamska balboa\nBarbadoski dolar\nBjeloruski rubalj\n"
        "Belizejski dolar\nBermudski dolar\nBolivijski bolivijano\nVenezuelanski bolivar\n"
        "Tr\xB8i\xA8te obveznica europske kompozitne jedinice (EURCO)\nTr\xB8i\xA8te obveznica "
        "europske nov\xB9"
        "ane jedinica (E.M.U.-6)\n"
        "Tr\xB8i\xA8te obveznica europske jedinice za obra\xB9un 17 (E.U.A.-17)\n"
        "Tr\xB8i\xA8te obveznica europske jedinice za obra\xB9un 9 (E.U");
    ASSERT_FALSE(guesses.empty());
    EXPECT_STREQ(guesses[0].encodingName, "ISO-8859-16");
}

TEST(GuessLanguages, AsciiStaysUsAsciiWithoutALanguage) {
    const std::vector<NLS_LanguageGuess> guesses = guessesOf("plain text\n");
    ASSERT_FALSE(guesses.empty());
    EXPECT_STREQ(guesses[0].encodingName, "US-ASCII");
    EXPECT_STREQ(guesses[0].language, "");
}

TEST(GuessLanguages, RefusesBadArguments) {
    size_t count = 1;
    NLS_LanguageGuess guess;
    EXPECT_EQ(NLS_GuessEncodingsAndLanguages(nullptr, 1, &guess, 1, &count), NLS_INVALID_PARAMETER);
    EXPECT_EQ(NLS_GuessEncodingsAndLanguages(nullptr, 0, &guess, 1, &count), NLS_NOT_DETECTED);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(NLS_NewEncodingGuesser(nullptr), NLS_INVALID_PARAMETER);
    EXPECT_EQ(NLS_FeedEncodingGuesser(nullptr, nullptr, 0), NLS_INVALID_PARAMETER);
    EXPECT_EQ(NLS_GetEncodingGuesses(nullptr, &guess, 1, &count), NLS_INVALID_PARAMETER);
    EXPECT_EQ(NLS_DeleteEncodingGuesser(nullptr), NLS_SUCCESS);
}

bool sameGuesses(const std::vector<velta::Guess>& a, const std::vector<velta::Guess>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].encoding != b[i].encoding || a[i].confidence != b[i].confidence ||
            a[i].language != b[i].language)
            return false;
    return true;
}

// Fed in two pieces cut anywhere, or byte by byte, the guesser guesses as the
// one-shot call does; past 64 KiB it reads no more.
TEST(GuessLanguages, GuesserFedInPiecesGuessesAsTheWhole) {
    const std::vector<Sample> all = samples();
    for (size_t s = 0; s < all.size(); s += 9) {
        const std::string& text = all[s].bytes;
        const std::vector<velta::Guess> whole = velta::guess(text);
        ASSERT_FALSE(whole.empty());
        for (size_t cut = 0; cut <= text.size(); cut += 37) {
            velta::Guesser guesser;
            ASSERT_TRUE(guesser);
            EXPECT_EQ(guesser.feed(velta::Bytes(text.data(), cut)), velta::Status::success);
            EXPECT_EQ(guesser.feed(velta::Bytes(text.data() + cut, text.size() - cut)),
                      velta::Status::success);
            EXPECT_TRUE(sameGuesses(guesser.guesses(), whole)) << all[s].file << " cut at " << cut;
        }
        velta::Guesser bytewise;
        for (char c : text) bytewise.feed(velta::Bytes(&c, 1));
        EXPECT_TRUE(sameGuesses(bytewise.guesses(), whole)) << all[s].file;
    }
    const std::string longText(100 * 1024, 'a');
    velta::Guesser guesser;
    guesser.feed(longText);
    guesser.feed("\xFF\xFE");
    EXPECT_TRUE(sameGuesses(guesser.guesses(), velta::guess(longText.substr(0, 64 * 1024))));
}

// Each thread counts pairs in a table of its own: threads guessing at once
// guess as one alone.
TEST(Threads, GuessesInManyThreadsAtOnceAreThoseOfOne) {
    const std::vector<Sample> all = samples();
    std::vector<std::string> alone;
    for (const Sample& sample : all) alone.push_back(guessesOf(sample.bytes).at(0).encodingName);
    const int kThreads = 4;
    std::vector<int> differing(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (size_t i = 0; i < all.size(); ++i)
                differing[t] += alone[(i + t) % all.size()] !=
                                guessesOf(all[(i + t) % all.size()].bytes).at(0).encodingName;
        });
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(differing[t], 0) << "thread " << t;
}

}  // namespace
