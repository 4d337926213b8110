// The rule both picture registries follow (decoders and encoders): filled at
// module start, in registration order, emptied at module stop, 30 places,
// one entry per format id, and every registration answers whether it took.
#pragma once

#include <cstdint>
#include <span>

namespace oct {

template <class Entry>
class FormatRegistry {
public:
    static constexpr int kCapacity = 30;

    // Appends `entry` (module start only). True when it is entered, and true,
    // entering nothing, when that very record is there already; false for
    // null, for another record with the same id, and when every place is taken.
    [[nodiscard]] bool add(const Entry* entry) {
        if (!entry) return false;
        if (const Entry* known = find(entry->id)) return known == entry;
        if (count_ >= kCapacity) return false;
        entries_[count_++] = entry;
        return true;
    }

    // The entry with this id, or null.
    const Entry* find(std::uint32_t id) const {
        for (int i = 0; i < count_; ++i)
            if (entries_[i]->id == id) return entries_[i];
        return nullptr;
    }

    // Every entry, in registration order.
    std::span<const Entry* const> entries() const { return {entries_, static_cast<std::size_t>(count_)}; }

    // Module stop: forgets every entry (the records are static and stay).
    void clear() { count_ = 0; }

private:
    const Entry* entries_[kCapacity] = {};
    int count_ = 0;
};

}  // namespace oct
