#pragma once
// The goggles' buttons: one resistor ladder on the SoC's converter, each button a level of
// its own. The board keeps the line's true level; what a conversion reads of it lands in the
// sample register of the ADC page: the fast board's preload writes it into the launcher's
// page as the launcher's sleeps let the line settle, the emulated goggles' board into the
// guest's memory, where the launcher maps the page through a real /dev/mem.
#include <cstdint>

namespace vxdevices {

// The count at the centre of the button's band (0 for no button).
uint32_t adc_level_of_key(int key_code);

// What a conversion reads of a line at `raw`: the true level once the line had time to
// settle since the converter was last idle, a held button's level one band high before.
uint32_t adc_conversion(uint32_t raw, bool settled);

// Whether a conversion of the line at `raw` must wait for it to settle to read it true.
bool adc_reads_high_unsettled(uint32_t raw);

// The register of a mapped ADC page that a conversion's result lands in.
volatile uint32_t& adc_sample_register(volatile uint32_t* page);

} // namespace vxdevices
