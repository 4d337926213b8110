// Object tables: every kind of runtime object that callers address by id
// (archives, file streams, images, fonts) lives in one table per kind.
//
// An id is either a number of 0 or more chosen by the caller (a slot of the
// table), or AnyId at creation, which makes a dynamic object whose id is the
// address of its record. A record is live while its first 64-bit field is
// nonzero. Every operation holds the table's recursive lock for its work, so
// a free callback may call back into its own table on the same thread.
#pragma once

#include <cstdint>

#include "platform/threads.h"
#include "runtime/address_set.h"

namespace oct {

// At creation: "make a dynamic object". At a kind's free function: "free every
// object of the kind".
constexpr std::int64_t AnyId = -1;

// A kind's free function: releases what the object of `id` holds and then
// calls objReleaseObject with the same id; AnyId frees every object.
using ObjFreeFn = void (*)(std::int64_t id);

// ---------------------------------------------------------------------------
// Lists of nodes with a two-link header
// ---------------------------------------------------------------------------

// The header in front of every record of such a list: 16 bytes, so that the
// record behind it keeps the allocator's 16-byte alignment (also with the
// WebAssembly module's 4-byte pointers).
struct alignas(16) ListNode {
    ListNode* next;  // the next older node
    ListNode* prev;  // the next newer node
};
static_assert(sizeof(ListNode) == 16);

inline void* objListRecord(ListNode* node) { return reinterpret_cast<std::uint8_t*>(node) + sizeof(ListNode); }
inline ListNode* objListNode(void* record) {
    return reinterpret_cast<ListNode*>(static_cast<std::uint8_t*>(record) - sizeof(ListNode));
}

// Allocates a zero-filled node of `size` bytes (header included) from the main
// heap and pushes it at the head of the list. Returns its record (the address
// 16 bytes past the node), or null for a size below 16 or no memory.
void* objListAdd(ListNode*& head, std::int64_t size);

// Unlinks the node of `record` from the list and frees it. The record must be
// on this list; null does nothing.
void objListRemove(ListNode*& head, void* record);

// ---------------------------------------------------------------------------
// Tables
// ---------------------------------------------------------------------------

struct ObjectTable {
    std::int32_t elementSize;  // bytes of one record
    std::int32_t growth;       // initial slot count; spare slots added on growth
    std::int64_t capacity;     // current number of slots
    void** slots;              // slot n: the record of number n, null if never created
    ListNode* dynamic;         // newest dynamic node, or null
    ObjFreeFn freeCallback;    // the kind's free function
    std::int64_t cursor;       // next number the enumeration examines
    plat::RecursiveLock lock;  // guards every field
    // Record addresses of the dynamic list, so that an id can be recognised
    // as one of ours without reading memory at that address.
    AddressSet dynamicIds;
    ListNode* enumLast;        // dynamic node the enumeration yielded last
    ListNode* enumNext;        // the node that was older than it at that time
};

// A new table with `initialCount` empty slots (also the growth), allocated
// from the main heap; it lives until the heap is destroyed. Null for a record
// smaller than its 8-byte first field, an initial count below 1, or no memory.
ObjectTable* objCreateTable(std::int32_t elementSize, std::int32_t initialCount, ObjFreeFn freeCallback);

// The zero-filled record of a new object with this id, or null on failure.
//   AnyId: a new dynamic object; its id is the returned address.
//   a number: grows the slot array to number + growth when the number lies
//   past its end; a number whose record exists (live or released) has the
//   free callback called with it first and its record is handed back zeroed.
// Null for ids below -1, when the slot array cannot grow (it keeps its size),
// or when the record cannot be allocated (the slot stays null).
void* objNewObject(ObjectTable* table, std::int64_t id);

// Gives an object's place back: a number's record is zero-filled and kept in
// its slot; a dynamic object's node is unlinked and freed (the id is dead).
// An id that is neither does nothing.
void objReleaseObject(ObjectTable* table, std::int64_t id);

// The live record of the id, or null (not created, released, first field zero,
// or not an id of this table — which is never dereferenced).
void* objGetObject(ObjectTable* table, std::int64_t id);

// The record when the id denotes an object of the table: for a number, its
// record when live; for a dynamic object, its address even while its first
// field is zero. Null otherwise.
void* objIsObject(ObjectTable* table, std::int64_t id);

// Calls the free callback with the id of every live number in increasing
// order, then with every dynamic object from the newest to the oldest. The
// table's lock is held throughout. A table without a free callback is left alone.
void objFreeAll(ObjectTable* table);

// The free function every object kind follows: AnyId frees every object of
// the table (objFreeAll); any other id that names a live object has
// `release` let go of what the record holds, and is then given back. Other
// ids do nothing. A null table does nothing.
void objFree(ObjectTable* table, std::int64_t id, void (*release)(void* record));

// The enumeration behind objFreeAll. objBeginEnum enters the table's lock;
// objNextObject returns the next record and sets `id`, or leaves the lock and
// returns null at the end. Numbers come once each, in order; dynamic objects
// come newest first, each after the previous one was released. A dynamic
// object that the caller leaves in place is passed over afterwards rather
// than returned again.
void objBeginEnum(ObjectTable* table);
void* objNextObject(ObjectTable* table, std::int64_t& id);

// The current number of slots.
std::int64_t objCapacity(ObjectTable* table);

}  // namespace oct
