// The drop-file list's layout (a DROPFILES block: a 20-byte header whose
// pFiles gives the list's offset and fWide its character size, then the
// paths, each ended by a zero, and an empty one after the last). Bytes only,
// no Windows header: the block comes from another process and is read here
// within its size alone, natively too, under sanitizers and a fuzzer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct DropList {
    struct Item {
        size_t at;      // byte offset of its first character
        size_t length;  // characters (2 bytes each in a wide list, else 1), its zero not counted
    };
    bool wide = false;
    std::vector<Item> items;  // in order, none empty
    // The list runs past the block (an item or the final empty string
    // without its zero, an offset beyond the block): an item that cannot be
    // read follows the others.
    bool cut = false;
};

// Nothing (no items, not cut) for a block too short for its header.
DropList ParseDropList(const uint8_t* block, size_t size);
