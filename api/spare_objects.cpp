#include "api/spare_objects.h"

#include <string.h>

#include <atomic>

#include "velta/encoding_converter.h"

namespace velta {
namespace {

// One object a slot, the slot chosen by the names; a slot is taken and
// filled with one atomic exchange, so two threads never share an object.
enum : uint32_t { kSlots = 32 };

std::atomic<EncodingConverter*> gSpares[kSlots];

}  // namespace

EncodingConverter* takeSpareObject(const char* from, const char* to) {
    const size_t fromLength = strlen(from);
    const size_t toLength = strlen(to);
    std::atomic<EncodingConverter*>& slot =
        gSpares[EncodingConverter::spareSlotOf(from, fromLength, to, toLength) % kSlots];
    if (slot.load(std::memory_order_relaxed) == nullptr) return nullptr;
    EncodingConverter* object = slot.exchange(nullptr, std::memory_order_acq_rel);
    if (object == nullptr) return nullptr;
    const bool current = object->madeFromCurrentRegistry();
    if (current && object->madeFor(from, fromLength, to, toLength)) return object;
    EncodingConverter* empty = nullptr;
    if (!current || !slot.compare_exchange_strong(empty, object, std::memory_order_acq_rel))
        delete object;
    return nullptr;
}

void giveBackObject(EncodingConverter* object) {
    if (!object->renew()) {
        delete object;
        return;
    }
    std::atomic<EncodingConverter*>& slot = gSpares[object->spareSlot() % kSlots];
    delete slot.exchange(object, std::memory_order_acq_rel);
}

void deleteSpareObjects() {
    for (std::atomic<EncodingConverter*>& slot : gSpares)
        delete slot.exchange(nullptr, std::memory_order_acq_rel);
}

}  // namespace velta
