#include "runtime/address_set.h"

#include "runtime/heap.h"

namespace oct {
namespace {

constexpr std::int64_t kFirstCapacity = 16;

// Heap addresses share their low bits; the multiplication spreads the rest.
std::int64_t home(std::uintptr_t key, std::int64_t capacity) {
    std::uint64_t h = static_cast<std::uint64_t>(key) * 0x9E3779B97F4A7C15ull;
    return static_cast<std::int64_t>((h >> 32) & static_cast<std::uint64_t>(capacity - 1));
}

void place(std::uintptr_t* cells, std::int64_t capacity, std::uintptr_t key) {
    std::int64_t i = home(key, capacity);
    while (cells[i] != 0) i = (i + 1) & (capacity - 1);
    cells[i] = key;
}

}  // namespace

bool AddressSet::insert(const void* address) {
    auto key = reinterpret_cast<std::uintptr_t>(address);
    if (key == 0) return false;
    if (contains(address)) return true;
    // Keep the load at one half or less, so probe runs stay short.
    if ((count + 1) * 2 > capacity) {
        std::int64_t grown = capacity ? capacity * 2 : kFirstCapacity;
        auto* fresh = static_cast<std::uintptr_t*>(memMainAlloc(grown * std::int64_t{sizeof(std::uintptr_t)}));
        if (!fresh) return false;
        for (std::int64_t i = 0; i < capacity; ++i)
            if (cells[i] != 0) place(fresh, grown, cells[i]);
        memMainFree(cells);
        cells = fresh;
        capacity = grown;
    }
    place(cells, capacity, key);
    ++count;
    return true;
}

bool AddressSet::contains(const void* address) const {
    auto key = reinterpret_cast<std::uintptr_t>(address);
    if (key == 0 || capacity == 0) return false;
    for (std::int64_t i = home(key, capacity);; i = (i + 1) & (capacity - 1)) {
        if (cells[i] == key) return true;
        if (cells[i] == 0) return false;
    }
}

void AddressSet::erase(const void* address) {
    auto key = reinterpret_cast<std::uintptr_t>(address);
    if (key == 0 || capacity == 0) return;
    const std::int64_t mask = capacity - 1;
    std::int64_t i = home(key, capacity);
    while (cells[i] != key) {
        if (cells[i] == 0) return;
        i = (i + 1) & mask;
    }
    // Shift back every later entry of the run that may no longer be found
    // across the hole: one whose home lies cyclically outside (hole, j].
    for (std::int64_t j = (i + 1) & mask; cells[j] != 0; j = (j + 1) & mask) {
        std::int64_t h = home(cells[j], capacity);
        bool reachable = (i <= j) ? (i < h && h <= j) : (i < h || h <= j);
        if (!reachable) {
            cells[i] = cells[j];
            i = j;
        }
    }
    cells[i] = 0;
    --count;
}

void AddressSet::clear() {
    memMainFree(cells);
    cells = nullptr;
    capacity = 0;
    count = 0;
}

}  // namespace oct
