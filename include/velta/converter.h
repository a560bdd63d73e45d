// The converter base class and the mapping-table types.
//
// The Convert contract, kept by every converter:
//  - target/targetCapacity: the output buffer, room for the terminator included.
//  - source/sourceLength: the input bytes (UCS-2 input: two bytes a unit).
//  - On return *targetLength is the number of bytes produced (terminator not
//    counted) and *sourceConsumed the number of input bytes used; both always
//    lie at character boundaries, so a caller can continue from them.
//  - A zero terminator (one byte, or one 16-bit unit for UCS-2 output) follows
//    the output when it fits; nothing is ever written past targetCapacity.
//  - Result: 1 when all input was consumed; 2 when some input is left or the
//    terminator did not fit; a negative status on error. A converter that
//    keeps state between calls (a base64 run, say) resumes exactly where the
//    previous call stopped; Reset() returns it to its initial state.
#ifndef VELTA_CONVERTER_H
#define VELTA_CONVERTER_H

#include <stdint.h>

#include <new>

#include "velta/nls.h"

// One mapping table: 16-bit units, N cells, format array, cells, data.
typedef uint16_t uTable;

struct uByteFormCell {
    uint8_t method;
    uint8_t length;
    uint8_t firstLow;
    uint8_t firstHigh;
    uint8_t minHigh;
    uint8_t minLow;
    uint8_t maxHigh;
    uint8_t maxLow;
};

enum { kMaxByteFormCells = 4 };

// How the codes of a character set are laid out as bytes.
struct uByteFormTable {
    int16_t cellCount;
    uint16_t kind;
    uByteFormCell cells[kMaxByteFormCells];
};

struct UnicodeTableSlot {
    uint16_t tableId;  // 0 ends the list
    uint8_t lowByte;   // first-byte range the table is tried for
    uint8_t highByte;
};

enum { kTableSlots = 4 };

// The static description of a converter's tables.
struct UnicodeTableSet {
    uint16_t csid;
    UnicodeTableSlot slots[kTableSlots];
};

// Passed through and kept by converters; the library never reads it.
struct UnicodeTableList {
    uint16_t tableId;
    const char* description;
};

// The loaded tables of one direction of one converter.
struct uTableSet {
    const uTable* tables[kTableSlots];
    const uByteFormTable* forms[kTableSlots];
    UnicodeTableSlot slots[kTableSlots];
};

struct resourceRecord {
    const char* name;
    int32_t refCount;
    const void* data;
    void* handle;
};

// One row of a resource map; a map ends with a row whose table id is 0.
struct resourceMapTable {
    uint16_t tableId;
    resourceRecord fromUCS2;
    resourceRecord toUCS2;
};

// A module's resources on platforms without resource sections: a module
// handle there is the address of its directory.
struct NLS_ResourceEntry {
    const char* name;
    const void* data;
    uint32_t size;
};

struct NLS_ResourceDirectory {
    const NLS_ResourceEntry* entries;
    uint32_t count;
};

// What a converter without mapping tables is: its two encodings, CSID,
// expansion factor and direction (0: to UCS-2, 1: from UCS-2).
struct TConverterIdentity {
    const char* from;
    const char* to;
    unsigned short csid;
    unsigned short expansionFactor;
    char direction;
};

class VELTA_EXPORT TEncodingConverter {
public:
    TEncodingConverter(const char* from, const char* to, const UnicodeTableSet* tableSet,
                       const UnicodeTableList* tableList1, const UnicodeTableList* tableList2,
                       unsigned short csid, unsigned short expansionFactor,
                       resourceMapTable* resourceMap, void* module, char direction);
    // A converter without tables (an algorithm), ready for use.
    explicit TEncodingConverter(const TConverterIdentity& identity);
    TEncodingConverter(const TEncodingConverter& other);
    TEncodingConverter& operator=(const TEncodingConverter&) = delete;

    virtual void Reset();
    virtual ~TEncodingConverter();
    virtual void ReleaseEncodingConverter();
    virtual void TargetBufferSize(const unsigned char* source, uint32_t sourceLength,
                                  uint32_t* size);
    virtual NLS_Status Convert(unsigned char* target, uint32_t* targetLength,
                               uint32_t targetCapacity, const unsigned char* source,
                               uint32_t sourceLength, uint32_t* sourceConsumed);
    virtual NLS_Status GetStatus();

    // The library's own module, under which its table resources are found.
    static void* LibraryModule();

protected:
    virtual NLS_Status ConvertToUnicode(unsigned char* target, uint32_t* targetLength,
                                        uint32_t targetCapacity, const unsigned char* source,
                                        uint32_t sourceLength, uint32_t* sourceConsumed);
    virtual NLS_Status ConvertFromUnicode(unsigned char* target, uint32_t* targetLength,
                                          uint32_t targetCapacity, const unsigned char* source,
                                          uint32_t sourceLength, uint32_t* sourceConsumed);

    NLS_Status LoadUCS2TableSet(unsigned short csid, uTableSet* set, int fromUCS2);
    void UnloadUCS2TableSet(uTableSet* set, int fromUCS2);
    const uTable* LoadFromUCS2Table(unsigned short tableId);
    const uTable* LoadToUCS2Table(unsigned short tableId);
    void UnloadFromUCS2Table(unsigned short tableId);
    void UnloadToUCS2Table(unsigned short tableId);

    // Looks a code up in a loaded mapping table, as the engines do; false
    // when no cell maps it (a result of 0xFFFD also means no mapping).
    static bool LookupCode(const uTable* table, uint16_t code, uint16_t* result);
    // LookupCode in two steps, for a converter that reads many characters
    // in one call: the table's index, found once (null where the table has
    // none; it stays valid while the converter holds the table), then each
    // code through it without locating the index again.
    static const uint16_t* TableIndex(const uTable* table);
    static bool LookupIndexedCode(const uint16_t* index, const uTable* table, uint16_t code,
                                  uint16_t* result);
    // The result of a code in a non-null index from TableIndex, 0xFFFD where
    // no cell maps it: 256 block numbers, one per high byte, then the blocks
    // of 256 results. Inline, so that a reader's loop makes no call a code.
    static uint16_t IndexedResult(const uint16_t* index, uint16_t code) {
        return index[256u * (1u + index[code >> 8]) + (code & 0xFFu)];
    }

    // True when Convert's pointers cannot be used as given: a null out-count,
    // a null buffer with a non-zero length.
    static bool InvalidConvertArguments(const unsigned char* target, const uint32_t* targetLength,
                                        uint32_t targetCapacity, const unsigned char* source,
                                        uint32_t sourceLength, const uint32_t* sourceConsumed);

    const UnicodeTableSet* fUnicodeTableSet;
    const UnicodeTableList* fTableList2;
    const UnicodeTableList* fTableList1;
    unsigned short fCSID;
    const char* fFromEncoding;
    const char* fToEncoding;
    void* fModule;
    resourceMapTable* fResourceMap;
    unsigned short fExpansionFactor;
    char fDirection;
    uTableSet fFromUCS2Tables;
    uTableSet fToUCS2Tables;
    uint32_t fTableCount;
    NLS_Status fStatus;
};

// The optional second base of a converter that takes one text in pieces
// (NLS_ConvertStream). The conversion object finds it with dynamic_cast; a
// converter without it gets every call's input as a whole text, as before.
// A converter with it keeps the Convert contract and also:
//  - leaves a character cut by the end of its input unconsumed (-1304), a
//    UCS-2 reader also a high surrogate that is the last unit, so that the
//    next piece completes it;
//  - while SetInputEnds(false) is in force, treats the end of each call's
//    input as a pause, not the end of the text: a base64 run, a shift state
//    or a byte whose form depends on what follows stays open for the next
//    call. SetInputEnds(true), the initial state, ends the text at the end of
//    every call's input.
//  - meets malformed input and characters its target lacks by its policy
//    (NLS_POLICY_REPLACE, _STOP, _SKIP: see Substitute) and reports them.
class VELTA_EXPORT TStreamConverter {
public:
    TStreamConverter() = default;
    TStreamConverter(const TStreamConverter&) = default;
    TStreamConverter& operator=(const TStreamConverter&) = default;
    virtual ~TStreamConverter();
    virtual void SetInputEnds(bool ends) { fInputEnds = ends; }
    bool InputEnds() const { return fInputEnds; }

    virtual void SetPolicy(int32_t policy) { fPolicy = policy; }
    int32_t Policy() const { return fPolicy; }
    // The substitutions since the last call of TakeReport: how many were
    // replaced or skipped, and the kind (NLS_MALFORMED_INPUT or
    // NLS_UNMAPPABLE_CHARACTER, 0 for none) and offset of the first one met,
    // in bytes from the start of the input of the Convert call that met it.
    virtual void TakeReport(uint32_t* count, int32_t* firstKind, int64_t* firstOffset);
    // A converter in the same state, to convert the same input again; null
    // where the converter cannot make one.
    virtual TEncodingConverter* CloneConverter() const { return nullptr; }

    // Called at a malformed sequence or an unmappable character `offset`
    // bytes into the call's input; returns the policy to apply to it:
    // NLS_POLICY_REPLACE (write the substitute), NLS_POLICY_SKIP (write
    // nothing) or NLS_POLICY_STOP (consume nothing more, and end the call
    // with NLS_INVALID_INPUT or NLS_UNMAPPABLE).
    int32_t Substitute(int32_t kind, int64_t offset);
    // Notes a substitution `offset` bytes into the call's input for the
    // report: counted where it was replaced or left out, not where the call
    // stopped at it.
    void NoteSubstitution(int32_t kind, int64_t offset, bool counted);
    // The same for a converter whose output may lack room for the
    // substitute: kNoRoom (nothing counted: stop before it, output full)
    // when the policy is to replace and `room` is false.
    enum { kNoRoom = -1 };
    int32_t SubstituteIfRoom(int32_t kind, int64_t offset, bool room) {
        return WritesSubstitute() && !room ? static_cast<int32_t>(kNoRoom)
                                           : Substitute(kind, offset);
    }
    // Substitute for a character `unit` that the target lacks. U+FFFD, which
    // already stands for a substitution (of malformed input, say), is
    // written over without being counted again while the policy writes.
    int32_t SubstituteUnmappable(uint32_t unit, int64_t offset) {
        return unit == 0xFFFD && WritesSubstitute() ? fPolicy
                                                    : Substitute(NLS_UNMAPPABLE_CHARACTER, offset);
    }
    // Whether the policy writes something in place of what it meets.
    bool WritesSubstitute() const {
        return fPolicy != NLS_POLICY_STOP && fPolicy != NLS_POLICY_SKIP;
    }

private:
    bool fInputEnds = true;
    int32_t fPolicy = 0;
    uint32_t fCount = 0;
    int32_t fFirstKind = 0;
    int64_t fFirstOffset = 0;
};

// CloneConverter for a converter whose copy is its state.
template <typename Converter>
TEncodingConverter* CloneByCopy(const Converter& converter) {
    return new (std::nothrow) Converter(converter);
}

// The status that a stream converter under NLS_POLICY_STOP gives for kind.
inline NLS_Status StatusOfSubstitution(int32_t kind) {
    return kind == NLS_UNMAPPABLE_CHARACTER ? NLS_UNMAPPABLE : NLS_INVALID_INPUT;
}

// A converter of the table engines that takes a text in pieces.
class VELTA_EXPORT TTableConverter : public TEncodingConverter, public TStreamConverter {
public:
    using TEncodingConverter::TEncodingConverter;
    ~TTableConverter() override;
    NLS_Status Convert(unsigned char* target, uint32_t* targetLength, uint32_t targetCapacity,
                       const unsigned char* source, uint32_t sourceLength,
                       uint32_t* sourceConsumed) override;
    TEncodingConverter* CloneConverter() const override { return CloneByCopy(*this); }
};

// A converter over a library's own mapping tables, as TTableConverter reads
// them (the same arguments as the TEncodingConverter constructor), that runs
// under the library's conversion shell: it follows the caller's actions and
// options (escapes, a substitute, transliteration) and says why each call
// stopped. Null without memory. TTableConverter keeps its published layout
// and its own handling of the four policies.
VELTA_API TEncodingConverter* NLS_NewTableStepConverter(
    const char* from, const char* to, const UnicodeTableSet* tableSet,
    const UnicodeTableList* tableList1, const UnicodeTableList* tableList2, unsigned short csid,
    unsigned short expansionFactor, resourceMapTable* resourceMap, void* module, char direction);

typedef TEncodingConverter* (*NLS_ConverterFactory)();

#endif
