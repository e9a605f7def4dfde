#pragma once
// The emulated goggles' RAM as the board reaches it: qemu keeps it in a file the board maps
// too. The guest's kernel is given only the first GUEST_KERNEL_MEM of it, so that the rest is
// memory no driver manages; the ADC page lies there, where the launcher maps it through the
// kernel's /dev/mem, and the board plays the converter in it. The framebuffer's memory is
// the kernel's own, in pages the agent names.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vxgoggles {

// qemu's virt machine puts its RAM here in the guest's physical address space.
constexpr uint64_t VIRT_RAM_BASE = 0x40000000u;
constexpr uint64_t GUEST_RAM_BYTES = 1ull << 30;
constexpr uint64_t GUEST_KERNEL_MEM = 256ull << 20; // the kernel's mem= on its command line
constexpr uint64_t PAGE_BYTES = 4096;

// Where the ADC page lies in the RAM's file.
constexpr uint64_t ADC_PAGE_IN_RAM = 0x20632000u;

// A run of the framebuffer's pages: `count` frames from `pfn`.
struct PageRun {
    uint64_t pfn;
    uint64_t count;
};

class GuestMemory {
  public:
    explicit GuestMemory(const std::string& ram_file);
    ~GuestMemory();
    GuestMemory(const GuestMemory&) = delete;
    GuestMemory& operator=(const GuestMemory&) = delete;

    // The ADC page, at the launcher's physical address.
    volatile uint32_t* adc_page() const;

    // Copies `len` bytes from byte `offset` of the memory laid out by `runs` (the
    // framebuffer's) into `out`; false where the runs end before.
    bool read_scattered(const std::vector<PageRun>& runs, uint64_t offset, void* out,
                        size_t len) const;

  private:
    uint8_t* base_ = nullptr;
};

} // namespace vxgoggles
