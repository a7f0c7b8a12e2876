#include "platform/host/gpio.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "platform/host/handheld.h"
#include "support/device_test.h"

namespace {

constexpr std::uint32_t GPLR0 = 0x00, GPLR1 = 0x04, GPLR2 = 0x08;
constexpr std::uint32_t GPSR0 = 0x18, GPSR1 = 0x1C, GPSR2 = 0x20;
constexpr std::uint32_t GPCR0 = 0x24, GPCR1 = 0x28;
constexpr ULONG kPin21 = 1u << 21;  // in bank 0
constexpr ULONG kPin38 = 1u << 6;   // in bank 1
constexpr ULONG kPin39 = 1u << 7;

volatile ULONG* At(std::uintptr_t address) { return reinterpret_cast<volatile ULONG*>(address); }
volatile ULONG* Reg(std::uint32_t offset) { return At(host::GpioBlock::kBase + offset); }
ULONG Read(std::uint32_t offset) { return READ_REGISTER_ULONG(Reg(offset)); }
void Write(std::uint32_t offset, ULONG value) { WRITE_REGISTER_ULONG(Reg(offset), value); }
// As the system drives a pin: read the register, OR the bit in, write it back.
void OrIn(std::uint32_t offset, ULONG bit) { Write(offset, Read(offset) | bit); }

class GpioTest : public pelorn_test::DeviceTest {
protected:
    host::GpioBlock& gpio() { return device().gpio(); }
};

TEST_F(GpioTest, PowerOnLeavesEveryPinLowTheReceiversTooAndNothingDrivenByTheHardware) {
    EXPECT_EQ(0u, Read(GPLR0));
    EXPECT_EQ(0u, Read(GPLR1));
    EXPECT_EQ(0u, Read(GPLR2));
    EXPECT_FALSE(gpio().PinLevel(38));
    EXPECT_FALSE(gpio().Pin38DrivenByHardware());
}

TEST_F(GpioTest, SetAndClearChangeOnlyTheWrittenBitsAndReadAsZero) {
    Write(GPSR0, kPin21);
    Write(GPSR0, 1u << 3);
    EXPECT_EQ(kPin21 | 1u << 3, Read(GPLR0)) << "a second set leaves pin 21 high";
    OrIn(GPSR1, kPin38);
    EXPECT_EQ(kPin38, Read(GPLR1));
    EXPECT_EQ(kPin21 | 1u << 3, Read(GPLR0)) << "another bank is another register";

    EXPECT_EQ(0u, Read(GPSR0));
    EXPECT_EQ(0u, Read(GPCR1));

    OrIn(GPCR0, kPin21);
    EXPECT_EQ(1u << 3, Read(GPLR0));
    EXPECT_EQ(kPin38, Read(GPLR1));
    Write(GPCR1, 0);
    Write(GPSR1, 0);
    EXPECT_EQ(kPin38, Read(GPLR1));
    EXPECT_TRUE(gpio().PinLevel(38));
    EXPECT_FALSE(gpio().PinLevel(21));

    Write(GPSR2, 0xFFFFFFFFu);
    EXPECT_EQ(0x001FFFFFu, Read(GPLR2)) << "pins 85 to 95 do not exist";
}

TEST_F(GpioTest, EveryAccessIsRecordedWithItsOffsetValueAndTime) {
    // Power on: pin 38, then 100 ms later pin 21.
    OrIn(GPSR1, kPin38);
    Sleep(100);
    OrIn(GPSR0, kPin21);
    EXPECT_TRUE(gpio().PinLevel(38));
    EXPECT_TRUE(gpio().PinLevel(21));

    auto writes = trace().Calls("GpioWrite");
    ASSERT_EQ(2u, writes.size());
    EXPECT_EQ("0x1C", writes[0].Str("offset"));
    EXPECT_EQ("0x40", writes[0].Str("Value"));
    EXPECT_EQ("0x18", writes[1].Str("offset"));
    EXPECT_EQ("0x200000", writes[1].Str("Value"));
    EXPECT_EQ(100, writes[1].t - writes[0].t);

    auto reads = trace().Calls("GpioRead");
    ASSERT_EQ(2u, reads.size());
    EXPECT_EQ("0x1C", reads[0].Str("offset"));
    EXPECT_EQ("0x0", reads[0].Str("Value"));
    EXPECT_EQ(0, reads[0].Num("result"));

    trace().Clear();
    Read(GPLR1);
    EXPECT_EQ("0x40", trace().Calls("GpioRead")[0].Str("Value"));
    EXPECT_EQ(0x40, trace().Calls("GpioRead")[0].Num("result"));
}

TEST_F(GpioTest, TheHardwareOverridesPin38UntilItLetsGo) {
    OrIn(GPSR1, kPin39);
    gpio().DrivePin38(true);
    EXPECT_TRUE(gpio().Pin38DrivenByHardware());
    EXPECT_EQ(kPin38 | kPin39, Read(GPLR1)) << "high although nothing raised it";

    OrIn(GPCR1, kPin38);
    EXPECT_EQ(kPin38 | kPin39, Read(GPLR1)) << "a clear does not win against the hardware";
    EXPECT_FALSE(gpio().OutputLevel(38));

    gpio().DrivePin38(false);
    OrIn(GPSR1, kPin38);
    EXPECT_EQ(kPin39, Read(GPLR1)) << "held low although raised";
    EXPECT_TRUE(gpio().OutputLevel(38));

    gpio().DrivePin38(std::nullopt);
    EXPECT_FALSE(gpio().Pin38DrivenByHardware());
    EXPECT_EQ(kPin38 | kPin39, Read(GPLR1)) << "released: reads back the level last driven";
    OrIn(GPCR1, kPin38);
    EXPECT_EQ(kPin39, Read(GPLR1));
}

TEST_F(GpioTest, AnAddressWithoutARegisterStopsTheProgram) {
    EXPECT_DEATH(READ_REGISTER_ULONG(Reg(host::GpioBlock::kSize)), "no device register at this address");
    EXPECT_DEATH(WRITE_REGISTER_ULONG(Reg(GPSR1 + 2), kPin38), "no device register at this address");
    EXPECT_DEATH(READ_REGISTER_ULONG(At(0xA8000000u)), "READ_REGISTER_ULONG\\(0xA8000000\\)");
}

}  // namespace
