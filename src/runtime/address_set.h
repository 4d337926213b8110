// A set of addresses with constant-time insert, lookup and removal, kept in
// the main heap. The object tables use it to answer "is this address one of
// my dynamic records?" without touching the address itself.
#pragma once

#include <cstdint>

namespace oct {

// Open addressing with linear probing; removal shifts later entries back, so
// there are no tombstones. A zero-filled AddressSet is a valid empty set.
struct AddressSet {
    std::uintptr_t* cells;  // capacity entries, 0 = free
    std::int64_t capacity;  // a power of two, or 0 before the first insert
    std::int64_t count;

    // Adds a non-null address. False when the set cannot grow to take it (the
    // set is unchanged then). Adding an address already present is a no-op.
    [[nodiscard]] bool insert(const void* address);
    bool contains(const void* address) const;
    void erase(const void* address);
    // Frees the cells; the set is empty afterwards.
    void clear();
};

}  // namespace oct
