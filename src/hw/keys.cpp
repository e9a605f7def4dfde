#include "hw/keys.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include "base/clock.h"
#include "base/sys.h"

namespace {

struct KeyReader {
    uint8_t ready = 0;
    volatile uint32_t* ctrl0 = nullptr;
    volatile uint32_t* ctrl1 = nullptr;
    volatile uint32_t* ctrl2 = nullptr;
    volatile uint32_t* ctrl3 = nullptr;
    volatile uint32_t* sample = nullptr;
    KeyDebounce debounce;
};

KeyReader g_keys;

volatile uint32_t* reg(void* base, uint32_t offset) {
    return reinterpret_cast<volatile uint32_t*>(static_cast<char*>(base) + offset);
}

bool low_byte_is(uint32_t word, uint32_t value) {
    return (word & 0xFFu) == value;
}

} // namespace

int keys_open() {
    const int fd = sys_open(ADC_MEM_DEVICE, O_RDWR | O_SYNC);
    if (fd < 0) return -1;
    void* base = mmap(nullptr, ADC_MAP_BYTES, PROT_READ | PROT_WRITE, MAP_SHARED, fd,
                      static_cast<off_t>(ADC_BASE_PHYS));
    close(fd);
    if (base == MAP_FAILED) return -1;
    g_keys.ctrl0 = reg(base, ADC_REG_CTRL0);
    g_keys.ctrl1 = reg(base, ADC_REG_CTRL1);
    g_keys.ctrl2 = reg(base, ADC_REG_CTRL2);
    g_keys.ctrl3 = reg(base, ADC_REG_CTRL3);
    g_keys.sample = reg(base, ADC_REG_SAMPLE);
    g_keys.ready = 1;
    return 0;
}

int keys_ready() {
    return g_keys.ready;
}

int32_t keys_sample() {
    if (g_keys.ready != 1) return KEY_NONE;
    *g_keys.ctrl0 = ADC_CTRL_VALUE;
    *g_keys.ctrl3 = ADC_CTRL_VALUE;
    *g_keys.ctrl2 = ADC_CTRL2_VALUE;
    if (!low_byte_is(*g_keys.ctrl1, ADC_CTRL_VALUE)) *g_keys.ctrl1 = ADC_CTRL_VALUE;
    uint32_t raw = *g_keys.sample;
    // Above the noise floor the line may still be settling after a button change: take the
    // reading of a second conversion.
    if (raw >= ADC_SETTLE_THRESHOLD) {
        sleep_us(ADC_SETTLE_US);
        raw = *g_keys.sample;
    }
    // A conversion is trusted only if this control register kept its value through it.
    if (!low_byte_is(*g_keys.ctrl0, ADC_CTRL_VALUE)) return -1;
    return keys_classify_mv(keys_raw_to_mv(raw));
}

int32_t keys_poll(int32_t* duration_ms) {
    return keys_debounce(&g_keys.debounce, keys_sample(), now_ms, duration_ms);
}
