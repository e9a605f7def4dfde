#include "goggles/guest_memory.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "board/errors.h"
#include "hw/keys.h"

namespace vxgoggles {

static_assert(ADC_BASE_PHYS >= VIRT_RAM_BASE + GUEST_KERNEL_MEM &&
                  ADC_BASE_PHYS + ADC_MAP_BYTES <= VIRT_RAM_BASE + GUEST_RAM_BYTES,
              "the ADC page lies in the guest's RAM, above what its kernel manages");
static_assert(ADC_PAGE_IN_RAM == ADC_BASE_PHYS - VIRT_RAM_BASE);

GuestMemory::GuestMemory(const std::string& ram_file) {
    const int fd = open(ram_file.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) vxboard::throw_errno("open " + ram_file);
    void* p = mmap(nullptr, GUEST_RAM_BYTES, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (p == MAP_FAILED) vxboard::throw_errno("mmap " + ram_file);
    base_ = static_cast<uint8_t*>(p);
}

GuestMemory::~GuestMemory() {
    munmap(base_, GUEST_RAM_BYTES);
}

volatile uint32_t* GuestMemory::adc_page() const {
    return reinterpret_cast<volatile uint32_t*>(base_ + ADC_PAGE_IN_RAM);
}

bool GuestMemory::read_scattered(const std::vector<PageRun>& runs, uint64_t offset, void* out,
                                 size_t len) const {
    auto* dst = static_cast<uint8_t*>(out);
    uint64_t run_start = 0; // byte offset of the run in the scattered memory
    for (const PageRun& r : runs) {
        const uint64_t run_bytes = r.count * PAGE_BYTES;
        while (len > 0 && offset >= run_start && offset < run_start + run_bytes) {
            const uint64_t phys = r.pfn * PAGE_BYTES + (offset - run_start);
            const size_t n =
                static_cast<size_t>(std::min<uint64_t>(len, run_start + run_bytes - offset));
            if (phys < VIRT_RAM_BASE || phys + n > VIRT_RAM_BASE + GUEST_RAM_BYTES) return false;
            std::memcpy(dst, base_ + (phys - VIRT_RAM_BASE), n);
            dst += n;
            offset += n;
            len -= n;
        }
        run_start += run_bytes;
    }
    return len == 0;
}

} // namespace vxgoggles
