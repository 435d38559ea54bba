#include "drop_list.h"

#include <cstring>

namespace {

constexpr size_t kHeaderSize = 20;  // pFiles, pt, fNC, fWide
constexpr size_t kWideAt = 16;

uint32_t ReadU32(const uint8_t* p) {
    uint32_t value;
    std::memcpy(&value, p, sizeof(value));  // any alignment: pFiles may be odd
    return value;
}

// Whether the character of `unit` bytes at `at` is zero.
bool IsZero(const uint8_t* block, size_t at, size_t unit) {
    for (size_t i = 0; i < unit; ++i)
        if (block[at + i]) return false;
    return true;
}

}  // namespace

DropList ParseDropList(const uint8_t* block, size_t size) {
    DropList list;
    if (!block || size < kHeaderSize) return list;
    list.wide = ReadU32(block + kWideAt) != 0;
    const size_t unit = list.wide ? 2 : 1;
    size_t at = ReadU32(block);
    for (;;) {
        // The next string's zero, within the block.
        size_t end = at;
        while (end <= size && size - end >= unit && !IsZero(block, end, unit)) end += unit;
        if (end > size || size - end < unit) {
            list.cut = true;
            return list;
        }
        const size_t length = (end - at) / unit;
        if (length == 0) return list;
        list.items.push_back({at, length});
        at = end + unit;
    }
}
