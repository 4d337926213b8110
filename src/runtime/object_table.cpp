#include "runtime/object_table.h"

#include <cstring>

#include "platform/threads.h"
#include "runtime/heap.h"

namespace oct {
namespace {

bool isLive(const void* record) {
    std::uint64_t first;
    std::memcpy(&first, record, sizeof first);
    return first != 0;
}

bool isNumber(const ObjectTable* table, std::int64_t id) { return id >= 0 && id < table->capacity; }

// The record of a dynamic id, or null when the table never gave it out (or it
// was released). Only addresses found in the set are ever read.
void* dynamicRecord(const ObjectTable* table, std::int64_t id) {
    auto* record = reinterpret_cast<void*>(static_cast<std::uintptr_t>(id));
    return table->dynamicIds.contains(record) ? record : nullptr;
}

// Makes number `id` a valid slot index: the array grows to id + growth slots,
// the new ones null. False, with the table unchanged, when it cannot.
bool coverNumber(ObjectTable* table, std::int64_t id) {
    if (id < table->capacity) return true;
    if (id > INT64_MAX - table->growth) return false;
    std::int64_t grown = id + table->growth;
    if (grown > INT64_MAX / std::int64_t{sizeof(void*)}) return false;
    auto* slots = static_cast<void**>(memMainRealloc(table->slots, grown * std::int64_t{sizeof(void*)}));
    if (!slots) return false;
    table->slots = slots;
    table->capacity = grown;
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// Lists
// ---------------------------------------------------------------------------

void* objListAdd(ListNode*& head, std::int64_t size) {
    if (size < std::int64_t{sizeof(ListNode)}) return nullptr;
    auto* node = static_cast<ListNode*>(memMainAlloc(size));
    if (!node) return nullptr;
    if (head) {
        head->prev = node;
        node->next = head;
    }
    head = node;
    return objListRecord(node);
}

void objListRemove(ListNode*& head, void* record) {
    if (!record) return;
    ListNode* node = objListNode(record);
    if (node->prev)
        node->prev->next = node->next;
    else
        head = node->next;
    if (node->next) node->next->prev = node->prev;
    memMainFree(node);
}

// ---------------------------------------------------------------------------
// Tables
// ---------------------------------------------------------------------------

ObjectTable* objCreateTable(std::int32_t elementSize, std::int32_t initialCount, ObjFreeFn freeCallback) {
    if (elementSize < std::int32_t{sizeof(std::uint64_t)} || initialCount < 1) return nullptr;
    auto* table = static_cast<ObjectTable*>(memMainAlloc(sizeof(ObjectTable)));
    if (!table) return nullptr;
    table->slots = static_cast<void**>(memMainAlloc(std::int64_t{initialCount} * std::int64_t{sizeof(void*)}));
    if (!table->slots || !plat::lockInit(table->lock)) {
        memMainFree(table->slots);
        memMainFree(table);
        return nullptr;
    }
    table->elementSize = elementSize;
    table->growth = initialCount;
    table->capacity = initialCount;
    table->freeCallback = freeCallback;
    return table;
}

void* objNewObject(ObjectTable* table, std::int64_t id) {
    if (!table || id < AnyId) return nullptr;
    plat::LockHold hold(table->lock);
    if (id == AnyId) {
        void* record = objListAdd(table->dynamic, std::int64_t{table->elementSize} + std::int64_t{sizeof(ListNode)});
        if (record && !table->dynamicIds.insert(record)) {
            objListRemove(table->dynamic, record);
            record = nullptr;
        }
        return record;
    }
    if (!coverNumber(table, id)) return nullptr;
    void* record = table->slots[id];
    if (record) {
        // The callback frees the old object (re-entering this lock); the
        // record is handed back zeroed whatever the callback did.
        if (table->freeCallback) table->freeCallback(id);
        std::memset(record, 0, static_cast<std::size_t>(table->elementSize));
        return record;
    }
    record = memMainAlloc(table->elementSize);
    table->slots[id] = record;
    return record;
}

void objReleaseObject(ObjectTable* table, std::int64_t id) {
    if (!table) return;
    plat::LockHold hold(table->lock);
    if (isNumber(table, id)) {
        if (void* record = table->slots[id]) std::memset(record, 0, static_cast<std::size_t>(table->elementSize));
        return;
    }
    if (void* record = dynamicRecord(table, id)) {
        table->dynamicIds.erase(record);
        objListRemove(table->dynamic, record);
    }
}

void* objGetObject(ObjectTable* table, std::int64_t id) {
    if (!table) return nullptr;
    plat::LockHold hold(table->lock);
    void* record = isNumber(table, id) ? table->slots[id] : dynamicRecord(table, id);
    return record && isLive(record) ? record : nullptr;
}

void* objIsObject(ObjectTable* table, std::int64_t id) {
    if (!table) return nullptr;
    plat::LockHold hold(table->lock);
    if (isNumber(table, id)) {
        void* record = table->slots[id];
        return record && isLive(record) ? record : nullptr;
    }
    return dynamicRecord(table, id);
}

void objFreeAll(ObjectTable* table) {
    if (!table || !table->freeCallback) return;
    objBeginEnum(table);
    std::int64_t id;
    while (objNextObject(table, id)) table->freeCallback(id);
}

void objBeginEnum(ObjectTable* table) {
    plat::lockEnter(table->lock);
    table->cursor = 0;
    table->enumLast = nullptr;
    table->enumNext = nullptr;
}

void* objNextObject(ObjectTable* table, std::int64_t& id) {
    while (table->cursor < table->capacity) {
        std::int64_t n = table->cursor++;
        void* record = table->slots[n];
        if (record && isLive(record)) {
            id = n;
            return record;
        }
    }
    // Dynamic objects: normally the caller releases each one it is given, and
    // the newest remaining node is next. Should it leave one in place, the
    // walk moves past it instead of returning it forever.
    ListNode* node;
    if (!table->enumLast)
        node = table->dynamic;
    else if (table->dynamicIds.contains(objListRecord(table->enumLast)))
        node = table->enumLast->next;
    else if (!table->enumNext || table->dynamicIds.contains(objListRecord(table->enumNext)))
        node = table->enumNext;
    else
        node = table->dynamic;
    if (!node) {
        table->enumLast = table->enumNext = nullptr;
        plat::lockLeave(table->lock);
        return nullptr;
    }
    table->enumLast = node;
    table->enumNext = node->next;
    void* record = objListRecord(node);
    id = static_cast<std::int64_t>(reinterpret_cast<std::uintptr_t>(record));
    return record;
}

std::int64_t objCapacity(ObjectTable* table) {
    if (!table) return 0;
    plat::LockHold hold(table->lock);
    return table->capacity;
}

void objFree(ObjectTable* table, std::int64_t id, void (*release)(void* record)) {
    if (!table) return;
    if (id == AnyId) {
        objFreeAll(table);
        return;
    }
    void* record = objGetObject(table, id);
    if (!record) return;
    release(record);
    objReleaseObject(table, id);
}

}  // namespace oct
