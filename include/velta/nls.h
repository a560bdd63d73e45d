/*
 * Velta: the flat C interface.
 *
 * Every function returns a status code (1 success, 2 success with work left
 * behind, negative on failure) or a name. Lengths are unsigned 32-bit byte
 * counts; UCS-2 text is 16-bit units in the machine's byte order.
 * This header compiles as C and as C++.
 */
#ifndef VELTA_NLS_H
#define VELTA_NLS_H

#include <stddef.h>
#include <stdint.h>

#include "velta/export.h"

typedef int32_t NLS_Status;

enum {
    NLS_SUCCESS = 1,
    NLS_RESULT_TRUNCATED = 2,
    NLS_OUT_OF_MEMORY = -1002,
    NLS_NO_SOURCE_CONVERTER = -1007,
    NLS_NO_TARGET_CONVERTER = -1008,
    NLS_INVALID_PARAMETER = -1009,
    NLS_TABLE_NOT_LOADED = -1010,
    NLS_NO_CONVERTER = -1014,
    NLS_ENUMERATION_NOT_MADE = -1015,
    NLS_NOT_DETECTED = -1016,
    NLS_NOT_INITIALIZED = -1100,
    NLS_LIBRARY_NOT_LOADED = -1300,
    NLS_CONVERTER_NOT_FOUND = -1301,
    NLS_INVALID_INPUT = -1302,
    NLS_OUTPUT_FULL = -1303,
    NLS_SEQUENCE_INCOMPLETE = -1304,
    NLS_UNMAPPABLE = -1305,
    NLS_ENTRY_POINT_NOT_FOUND = -1306
};

/* What a conversion object does with malformed input and with characters its
 * target encoding lacks (NLS_SetConversionPolicy). */
enum {
    NLS_POLICY_REPLACE = 0,      /* U+FFFD for malformed input, the target's "?" for the rest */
    NLS_POLICY_STOP = 1,         /* end the call before it: NLS_INVALID_INPUT or NLS_UNMAPPABLE */
    NLS_POLICY_SKIP = 2,         /* leave it out */
    NLS_POLICY_TRANSLITERATE = 3 /* as REPLACE, but a character the target lacks becomes an
                                    ASCII stand-in where it has one ("e" for e-acute, "EUR") */
};

/* The kinds of substitution a report names. */
enum { NLS_NO_SUBSTITUTION = 0, NLS_MALFORMED_INPUT = 1, NLS_UNMAPPABLE_CHARACTER = 2 };

/* The pivot encoding of every converter. */
#define NLS_UCS2_NAME "ISO-10646-UCS-2"
/* Encoding names are stored in 64-byte fields: at most 63 bytes and a zero. */
#define NLS_NAME_BUFFER_SIZE 64

#ifdef __cplusplus
class EncodingConverter;
class EncondingConverterList;
#else
typedef struct EncodingConverter EncodingConverter;
typedef struct EncondingConverterList EncondingConverterList;
#endif

/* A factory: no arguments, returns the new converter (or detector) object, or
 * null when it cannot get the memory for it. */
typedef void* (*NLS_EntryPoint)(void);

/* A row of a converter table that a client registers; a table ends with a
 * row whose entryName is null. */
typedef struct NLS_StaticConverterEntry {
    const char* fromName;
    const char* toName;
    const char* entryName;
    NLS_EntryPoint entryPoint;
} NLS_StaticConverterEntry;

/* The client's lock: both callbacks receive the context word. */
typedef struct MutexImplementation {
    void* context;
    void (*lock)(void* context);
    void (*unlock)(void* context);
} MutexImplementation;

/* The result record of encoding detection. */
typedef struct NLS_DetectedEncoding {
    const char* encodingName;
    uint32_t score;
    int32_t reserved;
    uint32_t invalid;
} NLS_DetectedEncoding;

/* Starts the library (optional: the first function that needs it does): the
 * lock record, copied and kept until NLS_EncTerminate, and the data directory
 * (null: $ZP_NLS_DATADIRECTORY, else the one installed with the library, else
 * "." with a conv30/ folder for a library without one, as in a build tree).
 * Call it again to start afresh: the replaced registry is freed when the last
 * object made from it goes (they keep working), and names handed out stay
 * valid until NLS_EncTerminate. Returns 1. */
VELTA_API NLS_Status NLS_EncInitialize(const MutexImplementation* lock, const char* dataDirectory);
/* Releases the registry, the converter libraries and the lock records; call
 * it when no other thread uses the library. Returns 1. */
VELTA_API NLS_Status NLS_EncTerminate(void);
/* Adds converters of the program's own; the table must live until
 * NLS_EncTerminate. Returns 1, or -1009 for a null table. */
VELTA_API NLS_Status NLS_RegisterStaticLibrary(NLS_StaticConverterEntry* table);

/* Converts a whole buffer from one encoding to another into dst, followed by
 * a zero terminator where it fits; *outLen gets the bytes written. Returns 1,
 * 2 when dst was too small, or a negative status (-1301 no conversion, -1009
 * bad arguments, -1304 a character cut at the end, -1302 invalid input). */
VELTA_API NLS_Status NLS_ConvertBuffer(const char* from, const char* to, const unsigned char* src,
                                       uint32_t srcLen, unsigned char* dst, uint32_t dstLen,
                                       uint32_t* outLen);

/* Makes a conversion object (*out, owned by the caller, given back with
 * NLS_DeleteEncodingConverter): a direct converter, or a chain through UCS-2.
 * Returns 1, or -1301 when there is no conversion (*out null). */
VELTA_API NLS_Status NLS_NewEncodingConverter(const char* from, const char* to,
                                              EncodingConverter** out);
VELTA_API NLS_Status NLS_DeleteEncodingConverter(EncodingConverter* obj);
/* The older stream functions: each call converts its buffer as a text of its
 * own (UTF-7 runs close at its end); input a call could not finish stays in
 * the object (NLS_GetConversionOverflowSize, NLS_ConverterGetOverflow drain
 * it). NLS_ConvertStream is the way to convert text cut anywhere. */
VELTA_API NLS_Status NLS_ConvertStreamBuffer(EncodingConverter* obj, const unsigned char* src,
                                             uint32_t srcLen, unsigned char* dst, uint32_t dstLen,
                                             uint32_t* outLen);
VELTA_API NLS_Status NLS_GetConversionOverflowSize(EncodingConverter* obj, uint32_t* size);
VELTA_API NLS_Status NLS_ConverterGetOverflow(EncodingConverter* obj, unsigned char* dst,
                                              uint32_t dstLen, uint32_t* outLen);
VELTA_API NLS_Status NLS_ResetEncodingConverter(EncodingConverter* obj);
VELTA_API NLS_Status NLS_GetConversionRemSize(EncodingConverter* obj, uint32_t* size);
VELTA_API NLS_Status NLS_GetConversionRem(EncodingConverter* obj, unsigned char* dst,
                                          uint32_t dstLen, uint32_t* outLen);
/* Converts one piece of a stream: the way to convert text that arrives in
 * pieces cut anywhere. Reads from src and writes to dst (no terminator),
 * setting *srcRead and *dstWritten (both always set), and returns:
 *   1 (NLS_SUCCESS): all of src was read. A character that the end of the
 *     piece cuts short is kept inside the object and completed by the next
 *     piece; so is any state (a UTF-7 base64 run, an ISO-2022-JP mode).
 *   2 (NLS_RESULT_TRUNCATED): dst is full. Call again with the unread rest
 *     of src (src + *srcRead) and a fresh dst; dst may have been filled to
 *     its last byte.
 *   negative: an error; *srcRead and *dstWritten say how far it went.
 * `last` non-zero says that src ends the text: whatever is open is closed,
 * and what the end cuts short (a character, a high surrogate, UTF-7 bits)
 * is malformed input under the object's policy: replaced or left out and
 * reported, or, under NLS_POLICY_STOP, -1304 with its bytes in this piece
 * not counted as read. Once a call with `last` returns 1 or an error, the
 * object is ready for a new text.
 * Joined, the outputs equal a conversion of the whole text at once, wherever
 * it is cut. Not to be mixed with NLS_ConvertStreamBuffer on one text. */
VELTA_API NLS_Status NLS_ConvertStream(EncodingConverter* obj, const unsigned char* src,
                                       uint32_t srcLen, unsigned char* dst, uint32_t dstLen,
                                       int last, uint32_t* srcRead, uint32_t* dstWritten);
/* What a conversion object has replaced or left out (NLS_POLICY_REPLACE,
 * NLS_POLICY_SKIP) or stopped at (NLS_POLICY_STOP) since it was made, reset,
 * or began a new text after a call with `last`: how many characters were
 * replaced or left out, and the kind of the first one met and its offset in
 * input bytes from the start of the text. */
typedef struct NLS_ConversionReport {
    uint32_t substituted;
    int32_t firstKind; /* NLS_NO_SUBSTITUTION when there was none */
    uint64_t firstOffset;
} NLS_ConversionReport;

/* The policy of a conversion object: NLS_POLICY_REPLACE (the default), _STOP
 * or _SKIP. Converters from libraries built without the stream interface
 * always replace and report nothing. */
VELTA_API NLS_Status NLS_SetConversionPolicy(EncodingConverter* obj, int32_t policy);

/* Options of a conversion object (NLS_SetConversionOption), each set before
 * a text starts: when the object is made, after a reset or after a call
 * with `last`. It applies to both halves of a chain. Each is a macro, so
 * that a program can test for it. */
/* 1: the Unicode decoders read as RFC 3629 and the Unicode standard do, so
 * that C0 80 and encoded surrogates (ED A0 80) in UTF-8 are malformed input;
 * 0 (the default): they read as U+0000 and as the surrogate, so that every
 * text the UTF-8 encoder writes, lone surrogates included, comes back. */
#define NLS_OPTION_STRICT_UNICODE 1
/* What the object does with malformed input: NLS_ACTION_REPLACE (U+FFFD),
 * _STOP or _SKIP. */
#define NLS_OPTION_MALFORMED_ACTION 2
/* What it does with a character the target lacks: any NLS_ACTION_*. */
#define NLS_OPTION_UNMAPPABLE_ACTION 3
/* What NLS_ACTION_TRANSLITERATE does with a character without a stand-in:
 * NLS_ACTION_REPLACE (the default), _STOP or _SKIP. */
#define NLS_OPTION_TRANSLITERATION_FALLBACK 4
/* The character (a code point) that NLS_ACTION_SUBSTITUTE writes: "?" by
 * default, and "?" wherever the target lacks it. */
#define NLS_OPTION_SUBSTITUTE_CHARACTER 5
/* The actions. NLS_SetConversionPolicy sets both actions to the pair its
 * policy names (NLS_POLICY_TRANSLITERATE: replace malformed input,
 * transliterate the rest); these options then change either. Each action
 * is counted in the report as one substitution. */
enum {
    NLS_ACTION_REPLACE = 0,
    NLS_ACTION_STOP = 1,
    NLS_ACTION_SKIP = 2,
    NLS_ACTION_TRANSLITERATE = 3,      /* the ASCII stand-in, else the fallback */
    NLS_ACTION_ESCAPE_XML_DECIMAL = 4, /* &#233; */
    NLS_ACTION_ESCAPE_XML_HEX = 5,     /* &#xE9; */
    NLS_ACTION_ESCAPE_UNICODE = 6,     /* \u00E9; beyond the BMP a pair, \uD83D\uDE00 */
    NLS_ACTION_SUBSTITUTE = 7          /* NLS_OPTION_SUBSTITUTE_CHARACTER */
};
/* Returns 1, or -1009 for an unknown option or value. */
VELTA_API NLS_Status NLS_SetConversionOption(EncodingConverter* obj, int32_t option, int32_t value);
VELTA_API NLS_Status NLS_GetConversionReport(EncodingConverter* obj, NLS_ConversionReport* report);

/* The version of the library that is loaded ("3.2.30"); velta/version.h has
 * the version of the headers a program was built with. */
VELTA_API const char* NLS_GetVersion(void);

/* A short English description of a status code ("output buffer full"). */
VELTA_API const char* NLS_GetStatusMessage(NLS_Status status);

/* An output size that surely holds the conversion of src (saturated at the
 * largest 32-bit size), or 0 without a conversion. */
VELTA_API uint32_t NLS_GetResultBufferSize(const unsigned char* src, uint32_t srcLen,
                                           const char* from, const char* to);

/* Enumeration of converters ("*" or null names match any encoding). */
VELTA_API NLS_Status NLS_NewEncodingConverterEnumeration(const char* from, const char* to,
                                                         EncondingConverterList** out);
VELTA_API NLS_Status NLS_DeleteEncodingConverterEnumeration(EncondingConverterList* list);
VELTA_API NLS_Status NLS_CountEncodingConverters(EncondingConverterList* list, uint32_t* count);
VELTA_API NLS_Status NLS_GetEncodingConverterListItem(EncondingConverterList* list, uint32_t index,
                                                      char* fromName, char* toName);

/* Names and existence. Returned names stay valid until NLS_EncTerminate. */
VELTA_API const char* NLS_GetNormalizedEncodingName(const char* name);
VELTA_API const char* NLS_GetEncodingNameFromJava(const char* javaName);
VELTA_API const char* NLS_GetJavaEncodingName(const char* name);
VELTA_API char NLS_EncodingConverterExists(const char* from, const char* to);

/* Every encoding that a converter reads or writes, in name order: the
 * visitor gets each canonical name once with a null alias, then once for
 * each alias of it. Returns 1, or a negative status without a registry. */
typedef void (*NLS_EncodingNameVisitor)(const char* encoding, const char* alias, void* context);
VELTA_API NLS_Status NLS_ListEncodingNames(NLS_EncodingNameVisitor visitor, void* context);

/* Detection. */
VELTA_API NLS_Status NLS_DetectEncodingForBuffer(const unsigned char* buffer, uint32_t length,
                                                 NLS_DetectedEncoding* results,
                                                 uint32_t resultCapacity, uint32_t* resultCount);
VELTA_API NLS_Status NLS_DetectEncodingForUCS2(const unsigned char* buffer, uint32_t length,
                                               NLS_DetectedEncoding* results,
                                               uint32_t resultCapacity, uint32_t* resultCount);

/* The encodings a buffer of text may be in, most likely first: UTF-8, UTF-16
 * (with a byte order mark: "UTF-16"; without: "UTF-16LE", "UTF-16BE"),
 * ISO-2022-JP, Shift_JIS, EUC-JP, GB18030 (GBK and GB2312 text read the
 * same), Big5, EUC-KR, US-ASCII for text without other bytes, and the
 * single-byte encodings of European, Middle Eastern, Thai and Vietnamese text
 * (windows-1250 to windows-1258, windows-874, ISO-8859-2, -4, -5, -7, -8,
 * -9, -13, -15, -16, KOI8-R, KOI8-U, IBM866, x-mac-cyrillic, IBM850, IBM852,
 * MAC_CENTRALEUROPE, TIS-620), told apart by models of the languages written
 * in them. Where two encodings read the text the same, the one in wider use
 * comes first and the other next with the same confidence (windows-1252
 * before ISO_8859-1:1987, ISO-8859-8 before ISO-8859-8-I). Each with a
 * confidence from 1 to 100; at most the first 64 KiB are read. Fills up to
 * `capacity` guesses and sets *count to their number. Returns 1,
 * NLS_NOT_DETECTED (-1016) when nothing fits (or the buffer is empty), or
 * NLS_INVALID_PARAMETER. */
typedef struct NLS_EncodingGuess {
    const char* encodingName; /* a canonical name, static */
    uint32_t confidence;      /* 1 to 100 */
} NLS_EncodingGuess;
VELTA_API NLS_Status NLS_GuessEncodings(const unsigned char* buffer, uint32_t length,
                                        NLS_EncodingGuess* guesses, uint32_t capacity,
                                        uint32_t* count);

/* The same guesses, each with the language the text reads as in it (BCP 47:
 * "ru", "pl", "el"...; "" where the encoding's detector does not tell, as for
 * the Unicode and CJK encodings). */
typedef struct NLS_LanguageGuess {
    const char* encodingName; /* a canonical name, static */
    uint32_t confidence;      /* 1 to 100 */
    const char* language;     /* static, never null */
} NLS_LanguageGuess;
VELTA_API NLS_Status NLS_GuessEncodingsAndLanguages(const unsigned char* buffer, size_t length,
                                                    NLS_LanguageGuess* guesses, size_t capacity,
                                                    size_t* count);

/* A guesser fed a text piece by piece: its guesses are at every moment those
 * NLS_GuessEncodingsAndLanguages gives for all it was fed (it keeps the first
 * 64 KiB and no more), so a reader may stop once the first guess is sure
 * enough. NLS_NewEncodingGuesser returns 1 or NLS_INVALID_PARAMETER (a null
 * `guesser`) or NLS_OUT_OF_MEMORY; feeding more than 64 KiB is not an error. */
typedef struct NLS_EncodingGuesser NLS_EncodingGuesser;
VELTA_API NLS_Status NLS_NewEncodingGuesser(NLS_EncodingGuesser** guesser);
VELTA_API NLS_Status NLS_FeedEncodingGuesser(NLS_EncodingGuesser* guesser,
                                             const unsigned char* piece, size_t length);
VELTA_API NLS_Status NLS_GetEncodingGuesses(const NLS_EncodingGuesser* guesser,
                                            NLS_LanguageGuess* guesses, size_t capacity,
                                            size_t* count);
VELTA_API NLS_Status NLS_DeleteEncodingGuesser(NLS_EncodingGuesser* guesser);

/* The vector kernels of the hottest conversions are chosen once for the CPU
 * ("avx2" where it has AVX2, otherwise "sse2" on x86-64, "scalar" elsewhere);
 * every choice gives the same bytes. The environment variable VELTA_KERNEL,
 * read at the first conversion, or NLS_UseKernel forces one by name (null
 * goes back to the CPU's best); NLS_UseKernel returns NLS_INVALID_PARAMETER
 * for a name this CPU or build lacks. NLS_KernelInUse names the one in use. */
VELTA_API NLS_Status NLS_UseKernel(const char* name);
VELTA_API const char* NLS_KernelInUse(void);

#endif
