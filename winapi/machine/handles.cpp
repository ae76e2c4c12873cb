// The handle table: every handle the stand-in gives out, of every DLL, is a slot of this one table.
#include "machine.h"

namespace kqwin {

namespace {
constexpr uintptr_t kHandleTag = 0x4;
constexpr unsigned kIndexShift = 4;
constexpr size_t kMaxSlots = (size_t{1} << 24);
} // namespace

HandleTable& Handles() {
    static HandleTable table;
    return table;
}

bool HandleTable::Decode(HANDLE h, size_t* index, uint32_t* generation) const {
    const auto v = reinterpret_cast<uintptr_t>(h);
    if ((v & 0xF) != kHandleTag) {
        return false;
    }
    const uintptr_t slot = (v >> kIndexShift) & (kMaxSlots - 1);
    if (slot == 0) {
        return false;
    }
    *index = slot - 1;
    if constexpr (sizeof(uintptr_t) == 8) {
        *generation = static_cast<uint32_t>(static_cast<uint64_t>(v) >> 32);
    } else {
        *generation = static_cast<uint32_t>(v >> (kIndexShift + 24)); // the top 4 bits on 32-bit hosts
    }
    return true;
}

HANDLE HandleTable::Add(std::shared_ptr<Object> obj) {
    std::lock_guard lock(mutex_);
    size_t index;
    if (!free_.empty()) {
        index = free_.back();
        free_.pop_back();
    } else {
        if (slots_.size() + 1 >= kMaxSlots) {
            return nullptr;
        }
        index = slots_.size();
        slots_.emplace_back();
    }
    Slot& slot = slots_[index];
    slot.generation = (slot.generation + 1) & 0x7FFFFFFF;
    if (slot.generation == 0) {
        slot.generation = 1;
    }
    slot.obj = std::move(obj);
    uintptr_t v = ((static_cast<uintptr_t>(index) + 1) << kIndexShift) | kHandleTag;
    if constexpr (sizeof(uintptr_t) == 8) {
        v |= static_cast<uintptr_t>(static_cast<uint64_t>(slot.generation) << 32);
    } else {
        v |= static_cast<uintptr_t>(slot.generation & 0xF) << (kIndexShift + 24);
    }
    return reinterpret_cast<HANDLE>(v);
}

std::shared_ptr<Object> HandleTable::Get(HANDLE h, ObjType type) {
    size_t index;
    uint32_t generation;
    if (Decode(h, &index, &generation)) {
        std::lock_guard lock(mutex_);
        if (index < slots_.size()) {
            const Slot& slot = slots_[index];
            const uint32_t live = sizeof(uintptr_t) == 8 ? slot.generation : (slot.generation & 0xF);
            if (slot.obj && live == generation && slot.obj->type == type) {
                return slot.obj;
            }
        }
    }
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
}

std::shared_ptr<Object> HandleTable::Remove(HANDLE h, ObjType type) {
    size_t index;
    uint32_t generation;
    if (Decode(h, &index, &generation)) {
        std::lock_guard lock(mutex_);
        if (index < slots_.size()) {
            Slot& slot = slots_[index];
            const uint32_t live = sizeof(uintptr_t) == 8 ? slot.generation : (slot.generation & 0xF);
            if (slot.obj && live == generation && slot.obj->type == type) {
                std::shared_ptr<Object> obj = std::move(slot.obj);
                free_.push_back(index);
                return obj;
            }
        }
    }
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
}

size_t HandleTable::Count(ObjType type) {
    std::lock_guard lock(mutex_);
    size_t n = 0;
    for (const Slot& slot : slots_) {
        n += (slot.obj && slot.obj->type == type) ? 1 : 0;
    }
    return n;
}

} // namespace kqwin

namespace kqwin::control {
size_t OpenPrinterHandles() { return Handles().Count(ObjType::Printer); }
size_t OpenFileHandles() { return Handles().Count(ObjType::File); }
} // namespace kqwin::control
