// velta_iconv_*: the POSIX iconv calls over conversion objects. The error
// model comes from convertExact's statuses and the object's report.
#include "velta/iconv.h"

#include <errno.h>
#include <string.h>

#include <mutex>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "api/exact_convert.h"
#include "velta/encoding_converter.h"
#include "velta/nls.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <langinfo.h>
#endif

namespace {

struct IconvDescriptor {
    EncodingConverter* object;
    bool transliterate;
    bool discard;
    bool trivial;
};

size_t failWith(int error) {
    errno = error;
    return static_cast<size_t>(-1);
}

char upperAscii(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool sameNameIgnoringCase(const std::string& a, const char* b) {
    if (a.size() != strlen(b)) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (upperAscii(a[i]) != upperAscii(b[i])) return false;
    return true;
}

// A name without case, hyphens, underscores and the like ("utf8" is "UTF-8"),
// the way glibc matches names.
std::string looseKey(const char* name) {
    std::string key;
    for (const char* p = name; *p != '\0'; ++p) {
        const char c = upperAscii(*p);
        if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) key += c;
    }
    return key;
}

void addLooseName(const char* encoding, const char* alias, void* context) {
    auto* names = static_cast<std::unordered_map<std::string, std::string>*>(context);
    names->emplace(looseKey(alias != nullptr ? alias : encoding), encoding);
}

// Every encoding name and alias, by its loose key, made once.
const std::unordered_map<std::string, std::string>& looseNames() {
    static std::unordered_map<std::string, std::string> names;
    static std::once_flag once;
    std::call_once(once, [] { NLS_ListEncodingNames(addLooseName, &names); });
    return names;
}

// The names whose meaning in glibc differs from Velta's registry, or that
// glibc alone knows (glibc's gconv-modules).
const char* glibcReading(const std::string& name) {
    static const char* const readings[][2] = {
        {"UCS-2", NLS_UCS2_NAME},  // the machine's order, no byte-order mark
        {"UCS-4", "UTF-32BE"},
        {"UCS4", "UTF-32BE"},
        {"ISO-10646", "UTF-32BE"},
#if defined(_WIN32)
        {"WCHAR_T", "UTF-16LE"},
#else
        {"WCHAR_T", "ISO-10646-UCS-4"},  // wchar_t: 32 bits in the machine's order
#endif
        {"UNICODE", "UTF-16"},
        {"UNICODEBIG", "UTF-16BE"},
        {"UNICODELITTLE", "UTF-16LE"},
    };
    for (const auto& reading : readings)
        if (sameNameIgnoringCase(name, reading[0])) return reading[1];
    return nullptr;
}

std::string localeCharset() {
#if defined(_WIN32)
    return "windows-" + std::to_string(GetACP());
#else
    const char* codeset = nl_langinfo(CODESET);
    return codeset != nullptr && codeset[0] != '\0' ? codeset : "US-ASCII";
#endif
}

struct IconvName {
    std::string name;
    bool transliterate = false;
    bool discard = false;
};

// "NAME//TRANSLIT//IGNORE" (or "NAME//TRANSLIT,IGNORE"): the name and its
// suffixes; glibc passes over suffixes it does not know.
IconvName splitIconvName(const char* code) {
    IconvName parsed;
    const char* suffixes = strstr(code, "//");
    parsed.name.assign(code,
                       suffixes != nullptr ? static_cast<size_t>(suffixes - code) : strlen(code));
    while (suffixes != nullptr && *suffixes != '\0') {
        while (*suffixes == '/' || *suffixes == ',') ++suffixes;
        const char* end = suffixes;
        while (*end != '\0' && *end != '/' && *end != ',') ++end;
        const std::string word(suffixes, static_cast<size_t>(end - suffixes));
        if (sameNameIgnoringCase(word, "TRANSLIT")) parsed.transliterate = true;
        if (sameNameIgnoringCase(word, "IGNORE")) parsed.discard = true;
        suffixes = end;
    }
    if (parsed.name.empty()) parsed.name = localeCharset();
    if (const char* reading = glibcReading(parsed.name)) parsed.name = reading;
    return parsed;
}

std::string looselyResolved(const std::string& name) {
    const auto& names = looseNames();
    auto found = names.find(looseKey(name.c_str()));
    return found != names.end() ? found->second : name;
}

// The one place where the interface asks for the strict reading of Unicode
// (C0 80 and encoded surrogates are invalid, as in glibc). Builds whose
// library has no such option read Unicode as the flat functions do.
void applyStrictUnicode(EncodingConverter* object) {
#ifdef NLS_OPTION_STRICT_UNICODE
    NLS_SetConversionOption(object, NLS_OPTION_STRICT_UNICODE, 1);
#else
    (void)object;
#endif
}

// glibc's suffixes as the two actions: //TRANSLIT writes a stand-in for a
// character the target lacks (else "?") and stops at malformed input;
// //IGNORE leaves both out; with both, malformed input is left out. The
// policy is the nearest pair, for converters that take only a policy.
void applyActions(IconvDescriptor* descriptor) {
    EncodingConverter* object = descriptor->object;
    if (!descriptor->transliterate) {
        NLS_SetConversionPolicy(object, descriptor->discard ? NLS_POLICY_SKIP : NLS_POLICY_STOP);
        return;
    }
    NLS_SetConversionPolicy(object, NLS_POLICY_TRANSLITERATE);
    NLS_SetConversionOption(object, NLS_OPTION_MALFORMED_ACTION,
                            descriptor->discard ? NLS_ACTION_SKIP : NLS_ACTION_STOP);
    NLS_SetConversionOption(object, NLS_OPTION_TRANSLITERATION_FALLBACK, NLS_ACTION_REPLACE);
}

// Characters replaced or left out whose output has gone out.
uint32_t substitutionsWritten(EncodingConverter* object) {
    NLS_ConversionReport report = {0, NLS_NO_SUBSTITUTION, 0};
    NLS_GetConversionReport(object, &report);
    return report.substituted - velta::pendingSubstitutions(object);
}

// A call with no input: the output returns to the initial state, and the
// object starts a new text.
size_t returnToInitialState(IconvDescriptor* descriptor, char** outbuf, size_t* outbytesleft) {
    if (outbuf == nullptr || *outbuf == nullptr || outbytesleft == nullptr) {
        NLS_ResetEncodingConverter(descriptor->object);
        return 0;
    }
    // The bytes of a character that the object carries were never counted
    // as read: the caller still has them, and the text ends before them.
    descriptor->object->dropCarriedInput();
    const velta::ExactResult result =
        velta::convertExact(descriptor->object, nullptr, 0,
                            reinterpret_cast<unsigned char*>(*outbuf), *outbytesleft, true);
    *outbuf += result.written;
    *outbytesleft -= result.written;
    if (result.status == NLS_RESULT_TRUNCATED) return failWith(E2BIG);
    NLS_ResetEncodingConverter(descriptor->object);
    return 0;
}

size_t errorOf(NLS_Status status) {
    switch (status) {
        case NLS_RESULT_TRUNCATED:
            return failWith(E2BIG);
        case NLS_SEQUENCE_INCOMPLETE:
            return failWith(EINVAL);
        case NLS_INVALID_PARAMETER:
            return failWith(EINVAL);
        default:
            return failWith(EILSEQ);
    }
}

}  // namespace

velta_iconv_t velta_iconv_open(const char* tocode, const char* fromcode) {
    velta_iconv_t failed = reinterpret_cast<velta_iconv_t>(-1);
    if (tocode == nullptr || fromcode == nullptr) {
        errno = EINVAL;
        return failed;
    }
    try {
        const IconvName to = splitIconvName(tocode);
        const IconvName from = splitIconvName(fromcode);
        EncodingConverter* object = nullptr;
        if (NLS_NewEncodingConverter(from.name.c_str(), to.name.c_str(), &object) != NLS_SUCCESS) {
            object = nullptr;
            const std::string looseFrom = looselyResolved(from.name);
            const std::string looseTo = looselyResolved(to.name);
            if (NLS_NewEncodingConverter(looseFrom.c_str(), looseTo.c_str(), &object) !=
                NLS_SUCCESS)
                object = nullptr;
        }
        if (object == nullptr) {
            errno = EINVAL;
            return failed;
        }
        auto* descriptor = new (std::nothrow)
            IconvDescriptor{object, to.transliterate, to.discard || from.discard, false};
        if (descriptor == nullptr) {
            NLS_DeleteEncodingConverter(object);
            errno = ENOMEM;
            return failed;
        }
        const char* fromName = NLS_GetNormalizedEncodingName(looselyResolved(from.name).c_str());
        const char* toName = NLS_GetNormalizedEncodingName(looselyResolved(to.name).c_str());
        descriptor->trivial =
            fromName != nullptr && toName != nullptr && strcmp(fromName, toName) == 0;
        applyStrictUnicode(object);
        applyActions(descriptor);
        return descriptor;
    } catch (...) {
        errno = ENOMEM;
        return failed;
    }
}

namespace {

size_t convertPiece(IconvDescriptor* descriptor, char** inbuf, size_t* inbytesleft, char** outbuf,
                    size_t* outbytesleft) {
    if (inbuf == nullptr || *inbuf == nullptr)
        return returnToInitialState(descriptor, outbuf, outbytesleft);
    if (inbytesleft == nullptr) return failWith(EINVAL);
    size_t room = 0;
    unsigned char* out = nullptr;
    if (outbuf != nullptr && *outbuf != nullptr && outbytesleft != nullptr) {
        room = *outbytesleft;
        out = reinterpret_cast<unsigned char*>(*outbuf);
    }
    const uint32_t substitutedBefore = substitutionsWritten(descriptor->object);
    const velta::ExactResult result =
        velta::convertExact(descriptor->object, reinterpret_cast<const unsigned char*>(*inbuf),
                            *inbytesleft, out, room, false);
    *inbuf += result.read;
    *inbytesleft -= result.read;
    if (out != nullptr) {
        *outbuf += result.written;
        *outbytesleft -= result.written;
    }
    const size_t substituted = substitutionsWritten(descriptor->object) - substitutedBefore;
    if (result.status != NLS_SUCCESS) return errorOf(result.status);
    // glibc's //IGNORE converts what it can, then says that it left some out.
    if (substituted != 0 && descriptor->discard && !descriptor->transliterate)
        return failWith(EILSEQ);
    return substituted;
}

}  // namespace

size_t velta_iconv(velta_iconv_t cd, char** inbuf, size_t* inbytesleft, char** outbuf,
                   size_t* outbytesleft) {
    auto* descriptor = static_cast<IconvDescriptor*>(cd);
    if (descriptor == nullptr || cd == reinterpret_cast<velta_iconv_t>(-1)) return failWith(EBADF);
    try {
        return convertPiece(descriptor, inbuf, inbytesleft, outbuf, outbytesleft);
    } catch (...) {
        return failWith(ENOMEM);
    }
}

int velta_iconv_close(velta_iconv_t cd) {
    auto* descriptor = static_cast<IconvDescriptor*>(cd);
    if (descriptor == nullptr || cd == reinterpret_cast<velta_iconv_t>(-1)) {
        errno = EBADF;
        return -1;
    }
    NLS_DeleteEncodingConverter(descriptor->object);
    delete descriptor;
    return 0;
}

int velta_iconvctl(velta_iconv_t cd, int request, void* argument) {
    auto* descriptor = static_cast<IconvDescriptor*>(cd);
    if (descriptor == nullptr || cd == reinterpret_cast<velta_iconv_t>(-1) || argument == nullptr) {
        errno = EINVAL;
        return -1;
    }
    int* value = static_cast<int*>(argument);
    switch (request) {
        case VELTA_ICONV_TRIVIALP:
            *value = descriptor->trivial ? 1 : 0;
            return 0;
        case VELTA_ICONV_GET_TRANSLITERATE:
            *value = descriptor->transliterate ? 1 : 0;
            return 0;
        case VELTA_ICONV_SET_TRANSLITERATE:
            descriptor->transliterate = *value != 0;
            break;
        case VELTA_ICONV_GET_DISCARD_ILSEQ:
            *value = descriptor->discard ? 1 : 0;
            return 0;
        case VELTA_ICONV_SET_DISCARD_ILSEQ:
            descriptor->discard = *value != 0;
            break;
        default:
            errno = EINVAL;
            return -1;
    }
    applyActions(descriptor);
    return 0;
}

namespace {

struct EncodingNames {
    std::vector<std::vector<std::string>> encodings;
};

void collectNames(const char* encoding, const char* alias, void* context) {
    auto* names = static_cast<EncodingNames*>(context);
    if (alias == nullptr) {
        names->encodings.push_back({encoding});
    } else if (!names->encodings.empty()) {
        names->encodings.back().push_back(alias);
    }
}

}  // namespace

void velta_iconvlist(velta_iconvlist_visitor visitor, void* data) {
    if (visitor == nullptr) return;
    try {
        EncodingNames names;
        NLS_ListEncodingNames(collectNames, &names);
        for (const auto& encoding : names.encodings) {
            std::vector<const char*> list;
            for (const auto& name : encoding) list.push_back(name.c_str());
            if (visitor(static_cast<unsigned int>(list.size()), list.data(), data) != 0) return;
        }
    } catch (...) {
    }
}
