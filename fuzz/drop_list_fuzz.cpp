// The drop list, as another process hands it over: any bytes of any size.
// Every item lies inside the block and ends at its zero, the items follow one
// another from pFiles on, and the list ends either at an empty string inside
// the block or, cut, where no zero is left before the block's end.
#include <cstring>

#include "drop_list.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A copy of exactly `size` bytes, so that AddressSanitizer sees any read past it.
    std::vector<uint8_t> copy(data, data + size);
    const uint8_t* block = copy.empty() ? nullptr : copy.data();
    const DropList list = ParseDropList(block, size);
    if (size < 20) {
        CHECK(list.items.empty() && !list.cut);
        return 0;
    }
    uint32_t wide = 0, files = 0;
    std::memcpy(&files, block, 4);
    std::memcpy(&wide, block + 16, 4);
    CHECK(list.wide == (wide != 0));
    const size_t unit = list.wide ? 2 : 1;
    auto zero = [&](size_t at) { return block[at] == 0 && (unit == 1 || block[at + 1] == 0); };

    size_t at = files;
    for (const DropList::Item& item : list.items) {
        CHECK(item.at == at);
        CHECK(item.length > 0);
        CHECK(item.at <= size && (size - item.at) / unit > item.length);  // the item and its zero fit
        for (size_t i = 0; i < item.length; ++i) CHECK(!zero(item.at + i * unit));
        CHECK(zero(item.at + item.length * unit));
        at = item.at + (item.length + 1) * unit;
    }
    // Where the items end: the empty string inside the block, or no zero up to its end.
    if (!list.cut) {
        CHECK(at <= size && size - at >= unit && zero(at));
    } else {
        for (size_t p = at; p <= size && size - p >= unit; p += unit) CHECK(!zero(p));
    }
    return 0;
}
