#include "hw/keys_logic.h"

#include "base/clock.h"

uint64_t keys_raw_to_mv(uint32_t raw) {
    return uint64_t{raw} * ADC_FULL_SCALE_MV / ADC_FULL_SCALE_COUNTS;
}

int32_t keys_classify_mv(uint64_t mv) {
    if (mv < KEY_MIN_MV || mv > KEY_MAX_MV) return KEY_NONE;
    const auto v = static_cast<int32_t>(mv);
    for (const KeyBand& band : KEY_BANDS) {
        if (v >= band.centre_mv - KEY_BAND_HALF_MV && v < band.centre_mv + KEY_BAND_HALF_MV)
            return band.code;
    }
    return KEY_NONE;
}

int32_t keys_debounce(KeyDebounce* d, int32_t code, int32_t (*clock)(), int32_t* duration_ms) {
    if (code < 0) return 0;
    if (code != d->last) {
        d->last = code;
        d->repeat = 0;
        return 0;
    }
    if (d->repeat < 2) {
        const int32_t before = d->repeat++;
        if (before == 0) return 0;
    }
    if (code == d->stable) return 0;
    const int32_t old = d->stable;
    d->stable = code;
    if (code == KEY_NONE) {
        if (duration_ms) *duration_ms = ms_elapsed(clock(), d->press_ms);
        return ~old;
    }
    d->press_ms = clock();
    if (duration_ms) *duration_ms = 0;
    return code + 1;
}
