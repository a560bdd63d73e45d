// The single-byte character sets of glibc's charmaps (resources/charmaps/)
// and the iconv names of every single-byte encoding: each byte decoded and
// each character encoded as glibc's iconv(3) does, but for the differences
// tests/data/charmaps_iconv.txt lists; tables that do not keep ASCII.
#include <ctype.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

using namespace velta_test;

class Charmaps : public LibraryTest {};

struct IconvList {
    std::vector<std::pair<std::string, std::string>> encodings;  // ours, iconv's name
    std::set<std::string> differences;                           // "<ours> decode|encode ..."
    std::vector<std::pair<std::string, std::string>> names;      // iconv's name, ours
};

IconvList readIconvList() {
    IconvList list;
    std::ifstream file(std::string(VELTA_SOURCE_DIR) + "/tests/data/charmaps_iconv.txt");
    for (std::string line; std::getline(file, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::string encoding, second;
        fields >> encoding >> second;
        if (second == "decode" || second == "encode")
            list.differences.insert(line);
        else if (second == "names")
            for (std::string name; fields >> name;) list.names.emplace_back(name, encoding);
        else
            list.encodings.emplace_back(encoding, second);
    }
    return list;
}

// A table of resources/charmaps: the character of each byte (0xFFFD for
// none, kDiacritic for a diacritic that takes the next byte) and of each
// diacritic and byte.
const uint16_t kDiacritic = 0xFFFE;
struct CharmapTable {
    std::vector<uint16_t> units = std::vector<uint16_t>(256, 0xFFFD);
    std::map<Bytes, uint16_t> pairs;
    // A letter and the mark after it (TCVN5712-1), not a diacritic before
    // its letter.
    bool composes() const {
        return !pairs.empty() && std::find(units.begin(), units.end(), kDiacritic) == units.end();
    }
};

CharmapTable charmapTable(const std::filesystem::path& file) {
    CharmapTable table;
    for (int b = 0; b < 0x80; ++b) table.units[b] = static_cast<uint16_t>(b);
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        if (line.compare(0, 2, "0x") != 0) continue;
        const auto byte = [&](size_t at) {
            return static_cast<unsigned char>(std::stoi(line.substr(at, 2), nullptr, 16));
        };
        const auto unit = [&](size_t at) {
            return static_cast<uint16_t>(std::stoi(line.substr(at, 4), nullptr, 16));
        };
        if (line[5] == '0')
            table.pairs[Bytes{byte(2), byte(7)}] = unit(12);
        else
            table.units[byte(2)] = line[5] == 'U' ? unit(7) : line[5] == '+' ? kDiacritic : 0xFFFD;
    }
    return table;
}

// One call of a conversion object under a policy: the output, or nothing
// where the call does not succeed.
Bytes convertUnder(int32_t policy, const char* from, const char* to, const Bytes& input) {
    EncodingConverter* object = nullptr;
    if (NLS_NewEncodingConverter(from, to, &object) != NLS_SUCCESS) return Bytes();
    NLS_SetConversionPolicy(object, policy);
    Bytes output(input.size() * 8 + 16);
    uint32_t read = 0, written = 0;
    const NLS_Status status =
        NLS_ConvertStream(object, input.data(), static_cast<uint32_t>(input.size()), output.data(),
                          static_cast<uint32_t>(output.size()), true, &read, &written);
    NLS_DeleteEncodingConverter(object);
    output.resize(status == NLS_SUCCESS ? written : 0);
    return output;
}

// Every table of resources/charmaps: every byte but the diacritics read in
// one call, then every code (diacritic and byte too); each character comes
// back to its lowest single byte, else to its lowest pair of bytes.
TEST_F(Charmaps, EveryCodeOfEveryTableReadsAndComesBack) {
    for (const auto& file : std::filesystem::directory_iterator(std::string(VELTA_SOURCE_DIR) +
                                                                "/resources/charmaps")) {
        const std::string name = file.path().stem().string();
        const CharmapTable table = charmapTable(file.path());
        Bytes bytesAlone;
        std::u16string expected;
        std::map<uint16_t, Bytes> written;
        for (int b = 0; b < 256; ++b) {
            if (table.units[b] == kDiacritic) continue;
            bytesAlone.push_back(static_cast<unsigned char>(b));
            expected += static_cast<char16_t>(table.units[b]);
            if (table.units[b] != 0xFFFD) written.emplace(table.units[b], Bytes(1, b));
        }
        // A letter and a mark in a row would read as one character.
        std::u16string alone;
        for (size_t b = 0; b < bytesAlone.size(); b += table.composes() ? 1 : bytesAlone.size())
            alone +=
                fromUcs2(convertOneShot(name.c_str(), NLS_UCS2_NAME,
                                        table.composes() ? Bytes(1, bytesAlone[b]) : bytesAlone)
                             .output);
        EXPECT_EQ(alone, expected) << name;
        Bytes codes = table.composes() ? Bytes() : bytesAlone;
        if (table.composes()) expected.clear();
        for (const auto& pair : table.pairs) {
            codes.insert(codes.end(), pair.first.begin(), pair.first.end());
            expected += static_cast<char16_t>(pair.second);
            written.emplace(pair.second, pair.first);
        }
        EXPECT_EQ(fromUcs2(convertOneShot(name.c_str(), NLS_UCS2_NAME, codes).output), expected)
            << name;
        std::u16string characters;
        Bytes expectedBytes;
        for (const auto& character : written) {
            characters += static_cast<char16_t>(character.first);
            expectedBytes.insert(expectedBytes.end(), character.second.begin(),
                                 character.second.end());
        }
        const Conversion encoded = convertOneShot(NLS_UCS2_NAME, name.c_str(), ucs2(characters));
        EXPECT_EQ(encoded.status, NLS_SUCCESS) << name;
        EXPECT_EQ(hex(encoded.output), hex(expectedBytes)) << name;
    }
}

// A diacritic before a byte it does not take is malformed alone: the byte
// after it is read afresh, under every policy.
TEST_F(Charmaps, DiacriticBeforeAnotherByteDoesNotSwallowIt) {
    const Bytes input = hexBytes("61 C2 31 C2 65");  // a, acute + "1", acute + e
    EXPECT_EQ(hex(convertUnder(NLS_POLICY_REPLACE, "ISO_6937", NLS_UCS2_NAME, input)),
              "61 00 FD FF 31 00 E9 00");
    EXPECT_EQ(hex(convertUnder(NLS_POLICY_SKIP, "ISO_6937", NLS_UCS2_NAME, input)),
              "61 00 31 00 E9 00");
    EXPECT_EQ(hex(convertUnder(NLS_POLICY_STOP, "ISO_6937", NLS_UCS2_NAME, input)), "");
}

// An EBCDIC target wrote the substitute "?" as the ASCII byte 0x3F, a
// control character there, and the stand-ins of transliteration likewise.
TEST_F(Charmaps, EbcdicSubstitutesAreEbcdicCharacters) {
    const struct {
        int32_t policy;
        const char* output;
    } cases[] = {{NLS_POLICY_REPLACE, "C1 6F C2"}, {NLS_POLICY_TRANSLITERATE, "C1 C5 E4 D9 C2"}};
    for (const auto& c : cases)
        EXPECT_EQ(hex(convertUnder(c.policy, NLS_UCS2_NAME, "IBM037", ucs2(u"A\u20ACB"))), c.output)
            << c.policy;
}

// Every encoding that detection names for ASCII text reads it as ASCII: no
// EBCDIC code page, no national ISO 646 variant.
TEST_F(Charmaps, DetectionNamesOnlyEncodingsThatReadAsciiAsAscii) {
    const std::string text = "Plain text, [brackets] {braces} #1 @home $5 ~tilde\r\n";
    const Bytes input = bytes(text);
    const Bytes asUcs2 = ucs2(std::u16string(text.begin(), text.end()));
    NLS_DetectedEncoding detected[16];
    uint32_t count = 0;
    NLS_DetectEncodingForBuffer(input.data(), static_cast<uint32_t>(input.size()), detected, 16,
                                &count);
    std::vector<std::string> names;
    for (uint32_t i = 0; i < count; ++i) names.push_back(detected[i].encodingName);
    NLS_EncodingGuess guesses[16];
    NLS_GuessEncodings(input.data(), static_cast<uint32_t>(input.size()), guesses, 16, &count);
    for (uint32_t i = 0; i < count; ++i) names.push_back(guesses[i].encodingName);
    EXPECT_FALSE(names.empty());
    for (const std::string& name : names)
        EXPECT_EQ(hex(convertOneShot(name.c_str(), NLS_UCS2_NAME, input).output), hex(asUcs2))
            << name;
}

// The README's list of these encodings is the tables' list, and each has
// converters both ways.
TEST_F(Charmaps, ReadmeListsEveryCharmapEncoding) {
    std::ifstream file(std::string(VELTA_SOURCE_DIR) + "/README.md");
    std::stringstream whole;
    whole << file.rdbuf();
    const std::string text = whole.str();
    const size_t begin = text.find("<!-- charmap encodings:");
    const size_t end = text.find("<!-- end of charmap encodings -->");
    ASSERT_LT(begin, end);
    std::set<std::string> listed, tables;
    for (size_t open = text.find('`', begin); open < end; open = text.find('`', open)) {
        const size_t close = text.find('`', open + 1);
        listed.insert(text.substr(open + 1, close - open - 1));
        open = close + 1;
    }
    for (const auto& table :
         std::filesystem::directory_iterator(std::string(VELTA_SOURCE_DIR) + "/resources/charmaps"))
        tables.insert(table.path().stem().string());
    EXPECT_EQ(listed, tables);
    for (const std::string& name : listed) {
        EXPECT_TRUE(NLS_EncodingConverterExists(name.c_str(), NLS_UCS2_NAME)) << name;
        EXPECT_TRUE(NLS_EncodingConverterExists(NLS_UCS2_NAME, name.c_str())) << name;
    }
}

std::string inCase(std::string name, int (*change)(int)) {
    for (char& c : name) c = static_cast<char>(change(static_cast<unsigned char>(c)));
    return name;
}

void collectName(const char* encoding, const char* alias, void* context) {
    static_cast<std::set<std::string>*>(context)->insert(
        inCase(alias != nullptr ? alias : encoding, toupper));
}

// What `velta -l` prints: every iconv name among the names listed.
TEST_F(Charmaps, EveryIconvNameIsListed) {
    std::set<std::string> listed;
    ASSERT_EQ(NLS_ListEncodingNames(&collectName, &listed), NLS_SUCCESS);
    for (const auto& name : readIconvList().names)
        EXPECT_TRUE(listed.count(inCase(name.first, toupper))) << name.first;
}

TEST_F(Charmaps, IconvNamesResolveInAnyLetterCase) {
    for (const auto& encoding : readIconvList().encodings)
        for (const std::string& name : {encoding.second, inCase(encoding.second, tolower)})
            EXPECT_STREQ(NLS_GetNormalizedEncodingName(name.c_str()), encoding.first.c_str());
}

#ifdef VELTA_HAVE_ICONV
std::string unitsText(const std::u16string& units) {
    if (units.empty()) return "-";
    std::string text;
    for (char16_t unit : units) {
        char one[8];
        snprintf(one, sizeof one, "U+%04X", static_cast<unsigned>(unit));
        text += (text.empty() ? "" : "+") + std::string(one);
    }
    return text;
}

std::string bytesText(const Bytes& bytes) {
    if (bytes.empty()) return "-";
    std::string text = hex(bytes);
    text.erase(std::remove(text.begin(), text.end(), ' '), text.end());
    return text;
}

std::u16string iconvDecoded(const char* name, const Bytes& code) {
    bool ok = false;
    const std::string out = iconvText("UTF-16LE", name, std::string(code.begin(), code.end()), &ok);
    std::u16string units;
    for (size_t i = 0; ok && i + 1 < out.size(); i += 2)
        units += static_cast<char16_t>(static_cast<unsigned char>(out[i]) |
                                       static_cast<unsigned char>(out[i + 1]) << 8);
    return units;
}

std::string utf16le(char16_t unit) {
    return std::string{static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
}

// Every byte, every diacritic before every byte, every byte before every
// mark, and every character either side reads, against iconv.
TEST_F(Charmaps, EverySingleByteEncodingMatchesIconvButForTheListedDifferences) {
    const IconvList list = readIconvList();
    ASSERT_GT(list.encodings.size(), 150u);
    std::set<std::string> found;
    for (const auto& encoding : list.encodings) {
        const char* ours = encoding.first.c_str();
        const char* theirs = encoding.second.c_str();
        const std::filesystem::path file =
            std::string(VELTA_SOURCE_DIR) + "/resources/charmaps/" + encoding.first + ".txt";
        const CharmapTable table =
            std::filesystem::exists(file) ? charmapTable(file) : CharmapTable();
        std::vector<Bytes> codes;
        for (int b = 0; b < 256; ++b) codes.push_back(Bytes(1, static_cast<unsigned char>(b)));
        std::set<unsigned char> marks;  // of a table that composes
        for (const auto& pair : table.pairs)
            if (table.composes()) marks.insert(pair.first[1]);
        for (int lead = 0; lead < 256; ++lead)
            for (int b = 0; b < 256; ++b)
                if (table.units[lead] == kDiacritic || marks.count(static_cast<unsigned char>(b)))
                    codes.push_back(
                        Bytes{static_cast<unsigned char>(lead), static_cast<unsigned char>(b)});
        std::set<uint16_t> characters;
        for (const Bytes& code : codes) {
            const std::u16string decoded =
                fromUcs2(convertUnder(NLS_POLICY_STOP, ours, NLS_UCS2_NAME, code));
            const std::u16string iconvUnits = iconvDecoded(theirs, code);
            if (decoded != iconvUnits)
                found.insert(encoding.first + " decode " + bytesText(code) + " " +
                             unitsText(decoded) + " " + unitsText(iconvUnits));
            for (const std::u16string& units : {decoded, iconvUnits})
                if (units.size() == 1) characters.insert(static_cast<uint16_t>(units[0]));
        }
        for (uint16_t unit : characters) {
            if (unit >= 0xD800 && unit <= 0xDFFF) continue;
            const std::u16string one(1, static_cast<char16_t>(unit));
            bool ok = false;
            const std::string iconvBytes = iconvText(theirs, "UTF-16LE", utf16le(one[0]), &ok);
            const Bytes oursBytes = convertUnder(NLS_POLICY_STOP, NLS_UCS2_NAME, ours, ucs2(one));
            const Bytes theirBytes = ok ? Bytes(iconvBytes.begin(), iconvBytes.end()) : Bytes();
            if (oursBytes != theirBytes)
                found.insert(encoding.first + " encode " + unitsText(one) + " " +
                             bytesText(oursBytes) + " " + bytesText(theirBytes));
        }
    }
    for (const std::string& line : found)
        EXPECT_TRUE(list.differences.count(line)) << "not listed: " << line;
    for (const std::string& line : list.differences)
        EXPECT_TRUE(found.count(line)) << "not found: " << line;
}
#endif

}  // namespace
