#pragma once
#include <cstdint>

#include "apps/catalogue.h"

// The menu's selection moves. Pure: the core and its tests share them as they are.

// `step` (+1 or -1) entries on over every entry, wrapping at either end. With an empty table
// a step back leaves -1, which nothing reads while the count is 0.
inline void select_step(AppTable* table, int32_t step) {
    if (step > 0)
        table->selected = table->selected < table->count - 1 ? table->selected + 1 : 0;
    else
        table->selected = (table->selected > 0 ? table->selected : table->count) - 1;
}

// ...over the entries allowed in the scanned mode only: the starting entry is examined last,
// and the selection stays where it is when no entry is allowed.
inline void select_step_allowed(AppTable* table, int32_t step) {
    const int32_t count = table->count;
    int32_t i = table->selected;
    for (int32_t n = 0; n < count; ++n) {
        i = ((i + step) % count + count) % count;
        if (table->entries[i].allowed) {
            table->selected = i;
            return;
        }
    }
}
