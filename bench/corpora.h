// Deterministic test corpora of about 4 MB, as UTF-8.
#ifndef VELTA_BENCH_CORPORA_H
#define VELTA_BENCH_CORPORA_H

#include <stdint.h>

#include <random>
#include <string>

namespace velta_bench {

enum class Corpus { kAscii, kLatin, kCjk, kEmoji };

inline const char* corpusName(Corpus corpus) {
    switch (corpus) {
        case Corpus::kAscii:
            return "ascii";
        case Corpus::kLatin:
            return "latin";
        case Corpus::kCjk:
            return "cjk";
        default:
            return "emoji";
    }
}

inline void appendUtf8(std::string& out, uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// English-like words; Latin text with about 10 % accented letters (all in
// ISO-8859-1 and Mac OS Roman); CJK text with some ASCII punctuation; and
// text in which most characters are emoji.
inline std::string makeCorpus(Corpus corpus, size_t size = 4 * 1024 * 1024) {
    static const char* const kWords[] = {"the",      "quick",  "brown",  "fox",        "jumps",
                                         "over",     "lazy",   "dog",    "conversion", "library",
                                         "encoding", "stream", "buffer", "text"};
    static const uint32_t kAccented[] = {0xE9, 0xE8, 0xE0, 0xFC, 0xF6,
                                         0xE4, 0xE7, 0xF1, 0xC9, 0xDF};
    std::mt19937 random(static_cast<unsigned>(corpus) + 7);
    std::string text;
    text.reserve(size + 64);
    while (text.size() < size) {
        switch (corpus) {
            case Corpus::kAscii:
                text += kWords[random() % 14];
                text += random() % 12 ? " " : ".\n";
                break;
            case Corpus::kLatin:
                for (int i = 0, n = 3 + random() % 6; i < n; ++i) {
                    if (random() % 10 == 0)
                        appendUtf8(text, kAccented[random() % 10]);
                    else
                        text += static_cast<char>('a' + random() % 26);
                }
                text += random() % 12 ? " " : ".\n";
                break;
            case Corpus::kCjk:
                for (int i = 0, n = 2 + random() % 8; i < n; ++i)
                    appendUtf8(text, 0x4E00 + random() % 0x5000);
                appendUtf8(text, random() % 8 ? 0x3001 : 0x3002);
                if (random() % 10 == 0) text += "\n";
                break;
            case Corpus::kEmoji:
                for (int i = 0, n = 1 + random() % 5; i < n; ++i)
                    appendUtf8(text, 0x1F300 + random() % 0x300);
                text += random() % 4 ? " " : "\n";
                break;
        }
    }
    return text;
}

}  // namespace velta_bench

#endif
