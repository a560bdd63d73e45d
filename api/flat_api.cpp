// The flat exported functions: each checks its arguments, forwards to a
// conversion object or an enumeration, and returns that object's status.
#include <new>

#include "api/exact_convert.h"
#include "api/library_state.h"
#include "api/spare_objects.h"
#include "velta/registry.h"

namespace {

const char kWildcardName[] = "*";
const char kEmptyName[] = "";

// No exception crosses the library boundary: where a converter library's
// code or an allocation throws, the call ends with a status.
template <typename Result, typename Body>
Result guarded(Result outOfMemory, Result failed, Body body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return outOfMemory;
    } catch (...) {
        return failed;
    }
}

}  // namespace
#include "velta/encoding_converter.h"

NLS_Status NLS_EncInitialize(const MutexImplementation* lock, const char* dataDirectory) {
    return guarded<NLS_Status>(NLS_OUT_OF_MEMORY, NLS_NO_CONVERTER, [&]() -> NLS_Status {
        velta::initializeLibrary(lock, dataDirectory);
        return NLS_SUCCESS;
    });
}

NLS_Status NLS_EncTerminate(void) {
    return guarded<NLS_Status>(NLS_OUT_OF_MEMORY, NLS_NO_CONVERTER, [&]() -> NLS_Status {
        velta::terminateLibrary();
        return NLS_SUCCESS;
    });
}

NLS_Status NLS_RegisterStaticLibrary(NLS_StaticConverterEntry* table) {
    return guarded<NLS_Status>(NLS_OUT_OF_MEMORY, NLS_NO_CONVERTER, [&]() -> NLS_Status {
        if (table == nullptr) return NLS_INVALID_PARAMETER;
        velta::RegistryHold hold;
        if (hold.get() != nullptr)
            hold.get()->RegisterStaticConverters(reinterpret_cast<char*>(table));
        return NLS_SUCCESS;
    });
}

NLS_Status NLS_ConvertBuffer(const char* from, const char* to, const unsigned char* src,
                             uint32_t srcLen, unsigned char* dst, uint32_t dstLen,
                             uint32_t* outLen) {
    return guarded<NLS_Status>(NLS_OUT_OF_MEMORY, NLS_NO_CONVERTER, [&]() -> NLS_Status {
        if (from == nullptr || to == nullptr || src == nullptr || dst == nullptr ||
            outLen == nullptr || dstLen == 0) {
            if (outLen != nullptr) *outLen = 0;
            return NLS_INVALID_PARAMETER;
        }
        EncodingConverter* object = velta::takeSpareObject(from, to);
        if (object == nullptr) object = new (std::nothrow) EncodingConverter(from, to);
        if (object == nullptr) {
            *outLen = 0;
            return NLS_NO_CONVERTER;
        }
        *outLen = object->convert(src, srcLen, dst, dstLen);
        const NLS_Status status = object->status();
        velta::giveBackObject(object);
        return status;
    });
}

NLS_Status NLS_NewEncodingConverter(const char* from, const char* to, EncodingConverter** out) {
    return guarded<NLS_Status>(NLS_OUT_OF_MEMORY, NLS_NO_CONVERTER, [&]() -> NLS_Status {
        if (from == nullptr || to == nullptr || out == nullptr) {
            if (out != nullptr) *out = nullptr;
            return NLS_INVALID_PARAMETER;
        }
        if (EncodingConverter* spare = velta::takeSpareObject(from, to)) {
            *out = spare;
            return NLS_SUCCESS;
        }
        EncodingConverter* object = new (std::nothrow) EncodingConverter(from, to);
        if (object == nullptr) {
            *out = nullptr;
            return NLS_OUT_OF_MEMORY;
        }
        const NLS_Status status = object->status();
        if (status != NLS_SUCCESS) {
            delete object;
            *out = nullptr;
            return status;
        }
        *out = object;
        return NLS_SUCCESS;
    });
}

NLS_Status NLS_DeleteEncodingConverter(EncodingConverter* obj) {
    return guarded<NLS_Status>(NLS_OUT_OF_MEMORY, NLS_NO_CONVERTER, [&]() -> NLS_Status {
        if (obj == nullptr) return NLS_INVALID_PARAMETER;
        velta::forgetExactState(obj);
        velta::giveBackObject(obj);
        return NLS_SUCCESS;
    });
}

NLS_Status NLS_ConvertStreamBuffer(EncodingConverter* obj, const unsigned char* src,
                                   uint32_t srcLen, unsigned char* dst, uint32_t dstLen,
                                   uint32_t* outLen) {
    return guarded<NLS_Status>(NLS_OUT_OF_MEMORY, NLS_NO_CONVERTER, [&]() -> NLS_Status {
        if (obj == nullptr || outLen == nullptr) return NLS_INVALID_PARAMETER;
        *outLen = obj->convert(src, srcLen, dst, dstLen);
        return obj->status();
    });
}

NLS_Status NLS_ConvertStream(EncodingConverter* obj, const unsigned char* src, uint32_t srcLen,
                             unsigned char* dst, uint32_t dstLen, int last, uint32_t* srcRead,
                             uint32_t* dstWritten) {
    return guarded<NLS_Status>(NLS_OUT_OF_MEMORY, NLS_NO_CONVERTER, [&]() -> NLS_Status {
        if (srcRead != nullptr) *srcRead = 0;
        if (dstWritten != nullptr) *dstWritten = 0;
        if (obj == nullptr || srcRead == nullptr || dstWritten == nullptr)
            return NLS_INVALID_PARAMETER;
        return obj->stream(src, srcLen, dst, dstLen, last != 0, srcRead, dstWritten);
    });
}

NLS_Status NLS_GetConversionOverflowSize(EncodingConverter* obj, uint32_t* size) {
    return guarded<NLS_Status>(NLS_OUT_OF_MEMORY, NLS_NO_CONVERTER, [&]() -> NLS_Status {
        if (obj == nullptr || size == nullptr) return NLS_INVALID_PARAMETER;
        const uint64_t overflow =
            static_cast<uint64_t>(EncodingConverter::kOverflowFactor) * obj->remainderSize();
        *size = overflow > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(overflow);
        return NLS_SUCCESS;
    });
}

NLS_Status NLS_ConverterGetOverflow(EncodingConverter* obj, unsigned char* dst, uint32_t dstLen,
                                    uint32_t* outLen) {
    return guarded<NLS_Status>(NLS_OUT_OF_MEMORY, NLS_NO_CONVERTER, [&]() -> NLS_Status {
        if (obj == nullptr || outLen == nullptr) return NLS_INVALID_PARAMETER;
        *outLen = obj->nextBuffer(dst, dstLen);
        return obj->status();
    });
}

NLS_Status NLS_ResetEncodingConverter(EncodingConverter* obj) {
    return guarded<NLS_Status>(NLS_OUT_OF_MEMORY, NLS_NO_CONVERTER, [&]() -> NLS_Status {
        if (obj == nullptr) return NLS_INVALID_PARAMETER;
        velta::forgetExactState(obj);
        obj->reset();
        return NLS_SUCCESS;
    });
}

NLS_Status NLS_GetConversionRemSize(EncodingConverter* obj, uint32_t* size) {
    return guarded<NLS_Status>(NLS_OUT_OF_MEMORY, NLS_NO_CONVERTER, [&]() -> NLS_Status {
        if (obj == nullptr || size == nullptr) return NLS_INVALID_PARAMETER;
        *size = obj->leftoverSize();
        return NLS_SUCCESS;
    });
}

NLS_Status NLS_GetConversionRem(EncodingConverter* obj, unsigned char* dst, uint32_t dstLen,
                                uint32_t* outLen) {
    return guarded<NLS_Status>(NLS_OUT_OF_MEMORY, NLS_NO_CONVERTER, [&]() -> NLS_Status {
        if (obj == nullptr || outLen == nullptr) return NLS_INVALID_PARAMETER;
        if (dst == nullptr && dstLen != 0) {
            *outLen = 0;
            return NLS_INVALID_PARAMETER;
        }
        *outLen = obj->leftover(dst, dstLen);
        return obj->status();
    });
}

uint32_t NLS_GetResultBufferSize(const unsigned char* src, uint32_t srcLen, const char* from,
                                 const char* to) {
    return guarded<uint32_t>(0, 0, [&]() -> uint32_t {
        if (from == nullptr || to == nullptr) return 0;
        return EncodingConverter::resultBufferSize(src, srcLen, from, to);
    });
}

NLS_Status NLS_NewEncodingConverterEnumeration(const char* from, const char* to,
                                               EncondingConverterList** out) {
    return guarded<NLS_Status>(NLS_OUT_OF_MEMORY, NLS_NO_CONVERTER, [&]() -> NLS_Status {
        if (out == nullptr) return NLS_INVALID_PARAMETER;
        *out = new (std::nothrow) EncondingConverterList(from, to);
        return *out != nullptr ? NLS_SUCCESS : NLS_ENUMERATION_NOT_MADE;
    });
}

NLS_Status NLS_DeleteEncodingConverterEnumeration(EncondingConverterList* list) {
    return guarded<NLS_Status>(NLS_OUT_OF_MEMORY, NLS_NO_CONVERTER, [&]() -> NLS_Status {
        if (list == nullptr) return NLS_INVALID_PARAMETER;
        delete list;
        return NLS_SUCCESS;
    });
}

NLS_Status NLS_CountEncodingConverters(EncondingConverterList* list, uint32_t* count) {
    return guarded<NLS_Status>(NLS_OUT_OF_MEMORY, NLS_NO_CONVERTER, [&]() -> NLS_Status {
        if (list == nullptr || count == nullptr) return NLS_INVALID_PARAMETER;
        *count = list->count();
        return NLS_SUCCESS;
    });
}

NLS_Status NLS_GetEncodingConverterListItem(EncondingConverterList* list, uint32_t index,
                                            char* fromName, char* toName) {
    return guarded<NLS_Status>(NLS_OUT_OF_MEMORY, NLS_NO_CONVERTER, [&]() -> NLS_Status {
        if (list == nullptr || fromName == nullptr || toName == nullptr || index >= list->count())
            return NLS_INVALID_PARAMETER;
        list->index(index, fromName, toName);
        return NLS_SUCCESS;
    });
}

// Names handed out outlive the registry that answered them: they are kept
// until NLS_EncTerminate. A name the registry does not know answers itself.
const char* NLS_GetNormalizedEncodingName(const char* name) {
    return guarded<const char*>(nullptr, nullptr, [&]() -> const char* {
        velta::RegistryHold hold;
        if (hold.get() == nullptr) return kEmptyName;
        if (name == nullptr) return kWildcardName;
        const char* resolved = hold.get()->ResolveEncodingName(name);
        return resolved == name ? velta::keptUnknownName(name) : velta::keptName(resolved);
    });
}

const char* NLS_GetEncodingNameFromJava(const char* javaName) {
    return guarded<const char*>(nullptr, nullptr, [&]() -> const char* {
        velta::RegistryHold hold;
        if (hold.get() == nullptr) return nullptr;
        if (javaName == nullptr) return kWildcardName;
        const char* found = hold.get()->NormalizeJavaEntity(javaName);
        return found != nullptr ? velta::keptName(found) : nullptr;
    });
}

const char* NLS_GetJavaEncodingName(const char* name) {
    return guarded<const char*>(nullptr, nullptr, [&]() -> const char* {
        velta::RegistryHold hold;
        if (hold.get() == nullptr) return nullptr;
        if (name == nullptr) return kWildcardName;
        const char* found = hold.get()->FindJavaEntityName(name);
        return found != nullptr ? velta::keptName(found) : nullptr;
    });
}

char NLS_EncodingConverterExists(const char* from, const char* to) {
    return guarded<char>(0, 0, [&]() -> char {
        velta::RegistryHold hold;
        TEncodingRegistry* registry = hold.get();
        if (registry == nullptr) return 0;
        const char* source = registry->ResolveEncodingName(from);
        const char* destination = registry->ResolveEncodingName(to);
        return registry->EnumerateEncodingConverters(source, destination) != 0 ? 1 : 0;
    });
}

NLS_Status NLS_ListEncodingNames(NLS_EncodingNameVisitor visitor, void* context) {
    return guarded<NLS_Status>(NLS_OUT_OF_MEMORY, NLS_NO_CONVERTER, [&]() -> NLS_Status {
        if (visitor == nullptr) return NLS_INVALID_PARAMETER;
        velta::RegistryHold hold;
        if (hold.get() == nullptr) return NLS_NOT_INITIALIZED;
        hold.get()->ListEncodingNames(visitor, context);
        return NLS_SUCCESS;
    });
}

NLS_Status NLS_SetConversionPolicy(EncodingConverter* obj, int32_t policy) {
    if (obj == nullptr) return NLS_INVALID_PARAMETER;
    return obj->setPolicy(policy);
}

NLS_Status NLS_SetConversionOption(EncodingConverter* obj, int32_t option, int32_t value) {
    return guarded<NLS_Status>(NLS_OUT_OF_MEMORY, NLS_NO_CONVERTER, [&]() -> NLS_Status {
        if (obj == nullptr) return NLS_INVALID_PARAMETER;
        return obj->setOption(option, value);
    });
}

NLS_Status NLS_GetConversionReport(EncodingConverter* obj, NLS_ConversionReport* report) {
    if (obj == nullptr || report == nullptr) return NLS_INVALID_PARAMETER;
    *report = obj->report();
    return NLS_SUCCESS;
}

const char* NLS_GetStatusMessage(NLS_Status status) {
    switch (status) {
        case NLS_SUCCESS:
            return "success";
        case NLS_RESULT_TRUNCATED:
            return "success, with work left (output full or input left)";
        case NLS_OUT_OF_MEMORY:
            return "out of memory";
        case NLS_NO_SOURCE_CONVERTER:
            return "the converter from the source encoding cannot be made";
        case NLS_NO_TARGET_CONVERTER:
            return "the converter to the target encoding cannot be made";
        case NLS_INVALID_PARAMETER:
            return "invalid argument";
        case NLS_TABLE_NOT_LOADED:
            return "a mapping table could not be loaded";
        case NLS_NO_CONVERTER:
            return "no converter";
        case NLS_ENUMERATION_NOT_MADE:
            return "the enumeration could not be made";
        case NLS_NOT_DETECTED:
            return "no encoding detected";
        case NLS_NOT_INITIALIZED:
            return "the library is not initialized";
        case NLS_LIBRARY_NOT_LOADED:
            return "a converter library could not be loaded";
        case NLS_CONVERTER_NOT_FOUND:
            return "no conversion between these encodings";
        case NLS_INVALID_INPUT:
            return "invalid input";
        case NLS_OUTPUT_FULL:
            return "output buffer full";
        case NLS_SEQUENCE_INCOMPLETE:
            return "incomplete character at the end of the input";
        case NLS_UNMAPPABLE:
            return "a character the target encoding cannot represent";
        case NLS_ENTRY_POINT_NOT_FOUND:
            return "a converter factory was not found";
        default:
            return "unknown status";
    }
}

const char* NLS_GetVersion(void) {
    return VELTA_LIBRARY_VERSION;
}
