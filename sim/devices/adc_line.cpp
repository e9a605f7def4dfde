#include "devices/adc_line.h"

#include "board_state.h"
#include "hw/keys.h"

namespace vxdevices {

static_assert(vxboard::ADC_PAGE_PHYS == ADC_BASE_PHYS &&
                  vxboard::ADC_SAMPLE_OFFSET == ADC_REG_SAMPLE,
              "the board lays out the ADC page where the launcher maps and reads it");

// Rounded up, so that the launcher's truncating conversion to millivolts lands on the centre.
uint32_t adc_level_of_key(int key_code) {
    for (const KeyBand& band : KEY_BANDS)
        if (band.code == key_code)
            return (static_cast<uint32_t>(band.centre_mv) * ADC_FULL_SCALE_COUNTS +
                    ADC_FULL_SCALE_MV - 1) /
                   ADC_FULL_SCALE_MV;
    return 0;
}

bool adc_reads_high_unsettled(uint32_t raw) {
    return raw >= vxboard::ADC_SETTLED_BELOW;
}

uint32_t adc_conversion(uint32_t raw, bool settled) {
    return settled || !adc_reads_high_unsettled(raw) ? raw : raw + vxboard::ADC_UNSETTLED_OFFSET;
}

volatile uint32_t& adc_sample_register(volatile uint32_t* page) {
    return page[vxboard::ADC_SAMPLE_OFFSET / sizeof(uint32_t)];
}

} // namespace vxdevices
