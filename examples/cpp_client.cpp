// A C++17 (and C++20) client of the installed package: converts a string,
// streams a file in pieces, and shows where a conversion stops.
//   cpp_client [FILE]
#include <velta/velta.hpp>

#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

int main(int argc, char** argv) {
    // One call.
    velta::Result latin = velta::convert("UTF-8", "ISO-8859-15",
                                         "Gr\xC3\xBC\xC3\x9F"
                                         "e \xE2\x82\xAC");
    if (!latin) {
        std::cerr << "conversion failed: " << latin.message << "\n";
        return 1;
    }
    std::cout << "ISO-8859-15 bytes: " << latin.output.size() << "\n";

    // A stream: a file (or a text of its own) in 5-byte pieces, UTF-8 to UTF-16LE.
    std::string text = "na\xC3\xAFve caf\xC3\xA9 \xF0\x9F\x98\x80\n";
    if (argc > 1) {
        std::ifstream file(argv[1], std::ios::binary);
        text.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    velta::Converter converter("UTF-8", "UTF-16LE");
    std::string utf16;
    for (size_t at = 0; at < text.size(); at += 5)
        converter.feed(std::string_view(text).substr(at, 5), false, utf16);
    if (converter.feed({}, true, utf16) != velta::Status::success) return 1;
    const std::string back = velta::convert("UTF-16LE", "UTF-8", utf16).output;
    std::cout << "UTF-16LE round trip: " << (back == text ? "exact" : "DIFFERS") << "\n";

    // Code units, and a std::istream into a std::ostream.
    const std::u32string characters = velta::to_u32string("UTF-8", text).output;
    std::istringstream in(text);
    std::ostringstream latin1;
    const velta::Outcome streamed = velta::convert("UTF-8", "ISO-8859-1", in, latin1);
    std::cout << characters.size() << " characters; as ISO-8859-1: " << streamed.report.substituted
              << " replaced\n";

    // Where a conversion stops: the euro sign has no ISO-8859-1 byte.
    velta::Result stopped =
        velta::convert("UTF-8", "ISO-8859-1", "price: 5 \xE2\x82\xAC", velta::Policy::stop);
    std::cout << "stopped: " << stopped.message << " at byte " << stopped.offset << "\n";
    try {
        velta::convert_or_throw("UTF-8", "US-ASCII", "caf\xC3\xA9");
    } catch (const velta::Error& error) {
        std::cout << "thrown: " << error.what() << " at byte " << error.offset() << "\n";
    }
    std::cout << "library " << velta::version() << ", headers " << VELTA_VERSION_STRING << ", "
              << velta::list().size() << " encodings; cp1252 is "
              << velta::normalize("cp1252").value_or("unknown") << "\n";
    return back == text && stopped.offset == 9 ? 0 : 1;
}
