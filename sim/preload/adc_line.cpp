// The SoC's converter on the button line, as a process of the sandbox sees it through the ADC
// page it mapped from /dev/mem: the launcher, and an app that reads the buttons with the app
// library while the launcher goes on reading them for the escape. On the goggles each starts
// conversions of its own; here each has its own view of the sample register.
//
// The first conversion after a process has left the converter idle (the launcher's sleep
// between two passes, an app's wait between two samples) reads the line unsettled, one band
// high; once the process has waited inside its sample for the line to settle, its next
// conversion reads the true level. The launcher's page is the board's file; an app's is a
// page of its own, so that neither's conversions disturb the other's.
#include <sys/mman.h>
#include <unistd.h>

#include "devices/adc_line.h"
#include "hw/keys.h"
#include "preload.h"

namespace vxpreload {

namespace {

using vxboard::AdcLine;

volatile uint32_t* g_adc_page = nullptr;
bool g_own_page = false; // a process other than the launcher: its page is its own
// The sample in progress reads the unsettled line until the process has waited long
// enough inside it: the second conversion it starts after that reads the true level.
bool g_settling = false;
uint64_t g_waited_us = 0;

volatile uint32_t& page_register(uint32_t offset) {
    return g_adc_page[offset / sizeof(uint32_t)];
}

// A sleep between samples leaves the converter idle: the next sample's first conversion
// reads a held button's line unsettled. The launcher's reads are counted: a front end holds a
// level until the launcher has read it.
void after_idle(AdcLine& line) {
    const uint32_t raw = line.raw.load();
    g_settling = vxdevices::adc_reads_high_unsettled(raw);
    g_waited_us = 0;
    vxdevices::adc_sample_register(g_adc_page) = vxdevices::adc_conversion(raw, false);
    if (!g_settling && !g_own_page) line.reads.fetch_add(1);
}

// A pending fault clears control register 0 during the launcher's conversion that reads the
// line settled.
void settled(AdcLine& line) {
    g_settling = false;
    vxdevices::adc_sample_register(g_adc_page) = vxdevices::adc_conversion(line.raw.load(), true);
    if (g_own_page) return;
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
    const BoardState* s = board();
    return s != nullptr && s->launcher.ns_pid.load() == getpid();
}

void* adc_mem_map(size_t len, int prot, off_t offset) {
    if (static_cast<uint64_t>(offset) != ADC_BASE_PHYS || is_launcher()) return nullptr;
    void* p = real().mmap(nullptr, len, prot, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return nullptr;
    g_own_page = true;
    return p;
}

void adc_mem_mapped(void* at, off_t offset, int flags) {
    // A private mapping of /dev/mem is a copy-on-write snapshot of the registers: the first
    // register write leaves the process its own page, which no conversion reaches again.
    if (static_cast<uint64_t>(offset) != ADC_BASE_PHYS || (flags & MAP_SHARED) == 0) return;
    g_adc_page = static_cast<volatile uint32_t*>(at);
    if (BoardState* s = board()) adc_after_sleep(*s, 0, true);
}

bool adc_mapped() {
    return g_adc_page != nullptr;
}

void adc_after_sleep(BoardState& s, uint64_t us, bool idle) {
    if (g_adc_page == nullptr) return;
    if (idle) {
        after_idle(s.adc);
        return;
    }
    if (!g_settling) return;
    g_waited_us += us;
    if (g_waited_us >= vxboard::ADC_LINE_SETTLE_US) settled(s.adc);
}

} // namespace vxpreload
