#include "hw/video_mode.h"

#include "base/log.h"
#include "base/log_lines.h"
#include "hw/remote_i2c.h"

namespace {

int32_t detect(int fd, bool logged) {
    uint8_t b7 = 0, ad = 0, ac = 0;
    remote_i2c_select(fd, LT8668_BUS, LT8668_ADDR);
    lt8668_select_page(fd);
    lt8668_reg_read(fd, LT8668_REG_B7, &b7);
    lt8668_reg_read(fd, LT8668_REG_AD, &ad);
    lt8668_reg_read(fd, LT8668_REG_AC, &ac);
    if (logged) log_line(LOG_MODE_REGISTERS, b7, ad, ac);
    return video_mode_decide(b7, ad, ac);
}

int32_t read_mode(bool logged) {
    const int fd = remote_i2c_open();
    if (fd < 0) return MODE_UNKNOWN;
    int32_t mode = detect(fd, logged);
    // An unknown answer may come from a transfer that went wrong; a second reading is cheap.
    if (mode == MODE_UNKNOWN) mode = detect(fd, logged);
    remote_i2c_close(fd);
    return mode;
}

} // namespace

int32_t video_mode_decide(uint8_t b7, uint8_t ad, uint8_t ac) {
    if (b7 == 2 && ad == 2 && ac == 1) return MODE_AV;
    if (b7 == 1) return MODE_NORMAL;
    if (b7 == 2) return MODE_HDMI;
    return MODE_UNKNOWN;
}

int32_t video_mode_detect(int fd) {
    return detect(fd, true);
}

int32_t video_mode_read() {
    return read_mode(true);
}

int32_t video_mode_read_quietly() {
    return read_mode(false);
}
