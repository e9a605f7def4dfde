// The goggles' buttons: one resistor ladder on the ADC's line, each button a level of its
// own. The board keeps the line's true level; the converter's reading of it is the preload's.
#include <stdexcept>

#include "board/board.h"
#include "devices/adc_line.h"
#include "goggles/machine.h"

namespace vxboard {

namespace {

// A release needs three idle samples of the launcher's to be seen: a press that followed
// sooner would merge with the one before.
constexpr Millis RELEASE_SETTLE(160);
// Samples the launcher's debouncer takes to see a new level: the third in a row decides.
constexpr int DEBOUNCE_PASSES = 3;

} // namespace

uint32_t Board::raw_for_key(int key_code) {
    return vxdevices::adc_level_of_key(key_code);
}

void Board::set_adc_raw(uint32_t raw) {
    state_->adc.raw.store(raw);
    if (goggles_) goggles_->set_adc_level(raw);
}

void Board::press(int key_code) {
    set_adc_raw(raw_for_key(key_code));
}

void Board::release() {
    set_adc_raw(0);
}

void Board::tap(int key_code, Millis held) {
    press(key_code);
    if (config_.stepped) {
        const bool held_through = run_for(held);
        release();
        if (!held_through || !run_passes(DEBOUNCE_PASSES))
            throw std::runtime_error("the launcher stopped passing during a tap");
        return;
    }
    std::this_thread::sleep_for(held);
    release();
    std::this_thread::sleep_for(RELEASE_SETTLE);
}

} // namespace vxboard
