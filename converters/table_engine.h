// The steps of the table-driven engines (bytes of a character set to UCS-2
// and back, up to four tables in slot order), and the converter of the
// library's own tables that runs them in the shell.
#ifndef VELTA_CONVERTERS_TABLE_ENGINE_H
#define VELTA_CONVERTERS_TABLE_ENGINE_H

#include <stdint.h>

#include "common/conversion_step.h"
#include "common/step_shell.h"
#include "velta/converter.h"

namespace velta {

// What the steps of one direction read on every character besides its
// tables, found once: their indexes, and the expansion of a set that is one
// single-byte table.
struct TableEngine {
    uint32_t slots;
    const uint16_t* indexes[kTableSlots];
    const uint16_t* singleByte;  // null unless the set is one single-byte table
};

TableEngine tableEngineOf(const uTableSet& set, uint32_t tableCount, const void* module);

// Bytes below 0x20 stand for themselves; other bytes are read by the first
// table whose first-byte range holds them and that maps them. Bytes no table
// maps are malformed, one byte at a time (a lead cut by the end of the input
// too: the engines keep no state).
StepResult decodeByTables(const uTableSet& set, const TableEngine& engine,
                          const unsigned char* source, uint32_t sourceLength, unsigned char* target,
                          uint32_t targetCapacity);
// Units that no table maps are themselves up to 0x20; above, they and codes
// whose byte form fails are what the target lacks, a surrogate pair one
// character. A high surrogate that ends the input waits for its pair.
StepResult encodeByTables(const uTableSet& set, const TableEngine& engine,
                          const unsigned char* source, uint32_t sourceLength, unsigned char* target,
                          uint32_t targetCapacity);

// The call rules the table engines have always kept, and ISO-8859-1 with
// them: a step leaves room for the terminator (what does not fit with it
// waits for the next call; a stream, which writes none, fills the output to
// its end), a decoder takes no empty input or output
// (-1009), and an encoder leaves an odd last byte unread with 2, not -1304.
// A codec derives from TTableRules<Codec> and defines stepBeforeTerminator.
template <typename Codec>
class TTableRules : public TStepShell<Codec> {
public:
    NLS_Status Convert(unsigned char* target, uint32_t* targetLength, uint32_t targetCapacity,
                       const unsigned char* source, uint32_t sourceLength,
                       uint32_t* sourceConsumed) override {
        if (this->fDirection == 0 &&
            (target == nullptr || targetCapacity == 0 || sourceLength == 0))
            return NLS_INVALID_PARAMETER;
        const NLS_Status status = TStepShell<Codec>::Convert(target, targetLength, targetCapacity,
                                                             source, sourceLength, sourceConsumed);
        const bool oddByteLeft = this->fDirection != 0 && status == NLS_SEQUENCE_INCOMPLETE &&
                                 sourceLength % 2 != 0 && *sourceConsumed == sourceLength - 1;
        return oddByteLeft ? NLS_RESULT_TRUNCATED : status;
    }

    StepResult step(const unsigned char* source, uint32_t sourceLength, unsigned char* target,
                    uint32_t targetCapacity, bool) {
        return static_cast<Codec&>(*this).stepBeforeTerminator(source, sourceLength, target,
                                                               roomBefore(targetCapacity));
    }

    bool writesChosenAlike() const { return true; }  // the engines keep no state
    // An encoder's stand-ins go through its step, which keeps the room; its
    // "?" is the byte 0x3F even where no table maps it.
    Written writeChosen(const uint16_t* units, uint32_t count, unsigned char* out,
                        uint32_t capacity, uint32_t* written) {
        if (this->fDirection == 0)
            return TStepShell<Codec>::writeChosen(units, count, out, roomBefore(capacity), written);
        const Written done = TStepShell<Codec>::writeChosen(units, count, out, capacity, written);
        if (done != Written::kNotInTarget || count != 1 || units[0] != '?') return done;
        if (roomBefore(capacity) == 0) return Written::kNoRoom;
        out[0] = '?';
        *written = 1;
        return Written::kDone;
    }

protected:
    using TStepShell<Codec>::TStepShell;

    uint32_t roomBefore(uint32_t capacity) const {
        if (this->FillsToEnd()) return capacity;
        const uint32_t width = this->terminatorWidth();
        return capacity > width ? capacity - width : 0;
    }
};

// A converter over tables of a resource map: the engine found when it is made.
class TTableStepConverter : public TTableRules<TTableStepConverter> {
public:
    TTableStepConverter(const char* from, const char* to, const UnicodeTableSet* tableSet,
                        const UnicodeTableList* tableList1, const UnicodeTableList* tableList2,
                        unsigned short csid, unsigned short expansionFactor,
                        resourceMapTable* resourceMap, void* module, char direction);
    // The engine over tables another converter holds, for one of its calls.
    TTableStepConverter(const TConverterIdentity& identity, const uTableSet& tables,
                        uint32_t tableCount, void* module);
    TEncodingConverter* CloneConverter() const override { return CloneByCopy(*this); }

    StepResult stepBeforeTerminator(const unsigned char* source, uint32_t sourceLength,
                                    unsigned char* target, uint32_t targetCapacity) {
        return fDirection != 0 ? encodeByTables(fFromUCS2Tables, fEngine, source, sourceLength,
                                                target, targetCapacity)
                               : decodeByTables(fToUCS2Tables, fEngine, source, sourceLength,
                                                target, targetCapacity);
    }
    // Into a set of one single-byte table, chosen text that it maps is
    // written a unit a byte, as the step writes it (the engine keeps no
    // state): text with many characters to replace wrote each replacement
    // through a step of its own.
    Written writeChosen(const uint16_t* units, uint32_t count, unsigned char* out,
                        uint32_t capacity, uint32_t* written);

private:
    TableEngine fEngine;
};

}  // namespace velta

#endif
