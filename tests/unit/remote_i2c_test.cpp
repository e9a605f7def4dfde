#include <gtest/gtest.h>

#include <cstdarg>
#include <cstring>
#include <vector>

#include "hw/remote_i2c.h"
#include "hw/video_mode.h"

namespace {

// Each transfer the layer hands to the driver, as the driver would read it.
struct Sent {
    uint32_t op;
    std::vector<uint8_t> payload;
};
std::vector<Sent> g_sent;
int g_result = 0;
uint8_t g_answer = 0;

} // namespace

// Stands in for the driver: the layer under test is linked into this binary, so its ioctl
// calls land here.
extern "C" int ioctl(int, unsigned long request, ...) {
    va_list ap;
    va_start(ap, request);
    auto* req = va_arg(ap, RemoteI2cRequest*);
    va_end(ap);
    EXPECT_EQ(request, 0xC00C4110ul);
    auto* p = static_cast<uint8_t*>(req->payload);
    g_sent.push_back({req->op, std::vector<uint8_t>(p, p + req->len)});
    if (g_result == 0 && req->op == REMOTE_I2C_OP_WRITE_READ) p[req->len - 1] = g_answer;
    return g_result;
}

namespace {

std::vector<uint8_t> words(std::initializer_list<uint32_t> ws,
                           std::initializer_list<uint8_t> bytes) {
    std::vector<uint8_t> out;
    for (uint32_t w : ws)
        for (int i = 0; i < 4; ++i)
            out.push_back(static_cast<uint8_t>(w >> (8 * i)));
    out.insert(out.end(), bytes);
    return out;
}

class Transfers : public ::testing::Test {
  protected:
    void SetUp() override {
        g_sent.clear();
        g_result = 0;
        g_answer = 0;
    }
};

TEST_F(Transfers, PayloadBytesAndLengths) {
    uint8_t out = 0x55;
    struct Case {
        const char* what;
        int (*call)(uint8_t*);
        uint32_t op;
        std::vector<uint8_t> payload;
    } cases[] = {
        {"osd write 0x0A1C=0x12", [](uint8_t*) { return osd_reg_write(3, 0x0A1C, 0x12); }, 2,
         words({2, 0x5B, 3}, {0x1C, 0x0A, 0x12})},
        {"osd read 0x0A22", [](uint8_t* o) { return osd_reg_read(3, 0x0A22, o); }, 3,
         words({2, 0x5B, 2, 1}, {0x22, 0x0A, 0})},
        {"lt8668 read 0xB7", [](uint8_t* o) { return lt8668_reg_read(3, 0xB7, o); }, 3,
         words({1, 0x43, 1, 1}, {0xB7, 0})},
        {"lt8668 page", [](uint8_t*) { return lt8668_select_page(3); }, 2,
         words({1, 0x43, 2}, {0xFF, 0xE0})},
        {"select osd", [](uint8_t*) { return remote_i2c_select(3, 2, 0x5B); }, 1,
         words({2, 0, 0x5B, 0}, {})},
    };
    for (const Case& c : cases) {
        g_sent.clear();
        g_answer = 0xA7;
        EXPECT_EQ(c.call(&out), 0) << c.what;
        ASSERT_EQ(g_sent.size(), 1u) << c.what;
        EXPECT_EQ(g_sent[0].op, c.op) << c.what;
        EXPECT_EQ(g_sent[0].payload, c.payload) << c.what;
    }
    EXPECT_EQ(out, 0xA7); // taken from the byte after the register address
}

TEST_F(Transfers, FailedReadLeavesTheCallersByte) {
    g_result = -1;
    uint8_t out = 0x33;
    EXPECT_EQ(lt8668_reg_read(3, 0xAD, &out), -1);
    EXPECT_EQ(out, 0x33);
    EXPECT_EQ(osd_reg_write(3, 1, 2), -1);
    g_result = 5; // anything but 0 is a failed write
    EXPECT_EQ(lt8668_select_page(3), -1);
}

TEST(RemoteI2c, CloseOfNoDescriptorIsANoOp) {
    EXPECT_EQ(remote_i2c_close(-1), -1);
}

TEST(VideoMode, DecisionTable) {
    struct Case {
        uint8_t b7, ad, ac;
        int32_t want;
    } cases[] = {
        {1, 0, 0, MODE_NORMAL},     {1, 2, 1, MODE_NORMAL},  {1, 0xFF, 0xFF, MODE_NORMAL},
        {2, 2, 1, MODE_AV},         {2, 2, 0, MODE_HDMI},    {2, 1, 1, MODE_HDMI},
        {2, 0, 0, MODE_HDMI},       {0, 2, 1, MODE_UNKNOWN}, {3, 2, 1, MODE_UNKNOWN},
        {0xFF, 0, 0, MODE_UNKNOWN},
    };
    for (const Case& c : cases)
        EXPECT_EQ(video_mode_decide(c.b7, c.ad, c.ac), c.want)
            << int(c.b7) << " " << int(c.ad) << " " << int(c.ac);
}

TEST_F(Transfers, DetectReadsPageThenThreeRegistersInOrder) {
    g_answer = 1;
    EXPECT_EQ(video_mode_detect(3), MODE_NORMAL);
    ASSERT_EQ(g_sent.size(), 5u);
    EXPECT_EQ(g_sent[0].op, REMOTE_I2C_OP_SELECT);
    EXPECT_EQ(g_sent[1].payload, words({1, 0x43, 2}, {0xFF, 0xE0}));
    const uint8_t regs[] = {0xB7, 0xAD, 0xAC};
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(g_sent[2 + i].payload[16], regs[i]);
}

} // namespace
