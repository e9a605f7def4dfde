// The SoC's converter on the button line, as the launcher's process sees it through the ADC
// page it mapped from /dev/mem. Only that process is modelled: its watchdog (a fork of it)
// and the apps it starts never touch the page. The first conversion after the launcher's
// sleep between two passes reads the line unsettled, one band high; once the launcher has
// waited inside the pass for the line to settle, its next conversion reads the true level.
#include <unistd.h>

#include "hw/keys.h"
#include "preload.h"

namespace vxpreload {

namespace {

using vxboard::AdcLine;

static_assert(vxboard::ADC_PAGE_PHYS == ADC_BASE_PHYS &&
                  vxboard::ADC_SAMPLE_OFFSET == ADC_REG_SAMPLE,
              "the board lays out the ADC page where the launcher maps and reads it");

volatile uint32_t* g_adc_page = nullptr;
pid_t g_launcher = 0;
// The sample in progress reads the unsettled line until the launcher has waited long
// enough inside the pass: the second conversion it starts after that reads the true level.
bool g_settling = false;
uint64_t g_waited_us = 0;

volatile uint32_t& page_register(uint32_t offset) {
    return g_adc_page[offset / sizeof(uint32_t)];
}

// A sleep between passes leaves the converter idle: the next sample's first conversion reads
// a held button's line unsettled.
void after_pass_sleep(AdcLine& line) {
    const uint32_t raw = line.raw.load();
    g_settling = raw >= vxboard::ADC_SETTLED_BELOW;
    g_waited_us = 0;
    page_register(ADC_REG_SAMPLE) = g_settling ? raw + vxboard::ADC_UNSETTLED_OFFSET : raw;
    if (!g_settling) line.reads.fetch_add(1);
}

// A pending fault clears control register 0 during the conversion that reads the line
// settled.
void settled(AdcLine& line) {
    g_settling = false;
    page_register(ADC_REG_SAMPLE) = line.raw.load();
    uint32_t pending = line.ctrl0_losses.load();
    while (pending > 0 && !line.ctrl0_losses.compare_exchange_weak(pending, pending - 1)) {
    }
    if (pending == 0) {
        line.reads.fetch_add(1);
        return;
    }
    page_register(ADC_REG_CTRL0) = 0;
    line.ctrl0_lost.fetch_add(1);
}

} // namespace

bool is_launcher() {
    return g_launcher != 0 && getpid() == g_launcher;
}

void adc_mem_mapped(void* at, off_t offset) {
    if (static_cast<uint64_t>(offset) != ADC_BASE_PHYS) return;
    g_adc_page = static_cast<volatile uint32_t*>(at);
    g_launcher = getpid();
    if (BoardState* s = board()) adc_after_sleep(*s, 0, true);
}

void adc_after_sleep(BoardState& s, uint64_t us, bool pass) {
    if (g_adc_page == nullptr) return;
    if (pass) {
        after_pass_sleep(s.adc);
        return;
    }
    if (!g_settling) return;
    g_waited_us += us;
    if (g_waited_us >= vxboard::ADC_LINE_SETTLE_US) settled(s.adc);
}

} // namespace vxpreload
