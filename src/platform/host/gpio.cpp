#include "platform/host/gpio.h"

#include <cstdio>
#include <cstdlib>

#include "platform/host/handheld.h"
#include "platform/host/hardware_settings.h"
#include "platform/host/trace.h"
#include "platform/trace/calls.h"

namespace host {
namespace {

constexpr std::uint32_t kLevel = 0x00;
constexpr std::uint32_t kSet = 0x18;
constexpr std::uint32_t kClear = 0x24;
constexpr std::uint32_t kEdgeStatus = 0x48;
constexpr std::uint32_t kBankBytes = 12;  // three registers of one kind

// GPIO85 .. GPIO95 do not exist: their bits of the third bank read 0 and writing them does nothing.
constexpr ULONG kBankMask[] = {0xFFFFFFFFu, 0xFFFFFFFFu, 0x001FFFFFu};

bool In(std::uint32_t offset, std::uint32_t first) { return offset >= first && offset < first + kBankBytes; }

void CheckPin(int pin) {
    if (pin < 0 || pin >= GpioBlock::kPins) {
        std::fprintf(stderr, "GPIO%d does not exist on this processor\n", pin);
        std::abort();
    }
}

}  // namespace

// Every pin starts low, the receiver's power pin 38 too: nothing powers the receiver until the
// system switches it on or the hardware drives the pin.
GpioBlock::GpioBlock(RegistryStore& registry) : registry_(registry) {}

void GpioBlock::SyncPin38() const {
    std::optional<DWORD> drive = pin38_setting_.Dword(registry_);
    const ULONG bit = 1u << (38 % 32);
    hw_mask_[1] = drive ? hw_mask_[1] | bit : hw_mask_[1] & ~bit;
    hw_level_[1] = drive && *drive ? hw_level_[1] | bit : hw_level_[1] & ~bit;
}
GpioBlock::~GpioBlock() = default;

std::optional<bool> GpioBlock::HardwareLevel(int pin) const {
    CheckPin(pin);
    if (pin == 38) SyncPin38();
    ULONG bit = 1u << (pin % 32);
    if (!(hw_mask_[pin / 32] & bit)) return std::nullopt;
    return (hw_level_[pin / 32] & bit) != 0;
}

bool GpioBlock::OutputLevel(int pin) const {
    CheckPin(pin);
    return (output_[pin / 32] >> (pin % 32)) & 1;
}

bool GpioBlock::PinLevel(int pin) const { return (Read(kLevel + 4 * (pin / 32)) >> (pin % 32)) & 1; }

void GpioBlock::DrivePin(int pin, std::optional<bool> level) {
    CheckPin(pin);
    if (pin == 38) {
        SetHardwareDword(registry_, u"Gpio", u"Pin38", level ? std::optional<DWORD>(*level ? 1 : 0) : std::nullopt);
        SyncPin38();
        return;
    }
    ULONG bit = 1u << (pin % 32);
    ULONG& mask = hw_mask_[pin / 32];
    ULONG& hw = hw_level_[pin / 32];
    mask = level ? mask | bit : mask & ~bit;
    hw = level && *level ? hw | bit : hw & ~bit;
}

ULONG GpioBlock::Read(std::uint32_t offset) const {
    if (In(offset, kLevel)) {
        int bank = static_cast<int>((offset - kLevel) / 4);
        if (bank == 1) SyncPin38();
        return ((output_[bank] & ~hw_mask_[bank]) | (hw_level_[bank] & hw_mask_[bank])) & kBankMask[bank];
    }
    if (In(offset, kSet) || In(offset, kClear) || In(offset, kEdgeStatus)) return 0;
    return plain_[offset / 4];
}

void GpioBlock::Write(std::uint32_t offset, ULONG value) {
    if (In(offset, kSet)) {
        int bank = static_cast<int>((offset - kSet) / 4);
        output_[bank] |= value & kBankMask[bank];
    } else if (In(offset, kClear)) {
        int bank = static_cast<int>((offset - kClear) / 4);
        output_[bank] &= ~(value & kBankMask[bank]);
    } else if (!In(offset, kLevel) && !In(offset, kEdgeStatus)) {
        plain_[offset / 4] = value;
    }
}

}  // namespace host

namespace {

using host::GpioBlock;

// The offset of a register of the GPIO block; aborts for any address the handheld has no
// register at, the way the processor would stop the program.
std::uint32_t GpioOffset(volatile ULONG* reg, const char* call) {
    auto address = reinterpret_cast<std::uintptr_t>(reg);
    if (address < GpioBlock::kBase || address >= GpioBlock::kBase + GpioBlock::kSize || address % 4 != 0) {
        std::fprintf(stderr, "%s(0x%08llX): no device register at this address\n", call,
                     static_cast<unsigned long long>(address));
        std::abort();
    }
    return static_cast<std::uint32_t>(address - GpioBlock::kBase);
}

}  // namespace

ULONG READ_REGISTER_ULONG(volatile ULONG* Register) {
    tracing::GpioReadCall c;
    std::uint32_t offset = GpioOffset(Register, "READ_REGISTER_ULONG");
    ULONG value = host::Handheld::Current().gpio().Read(offset);
    c.Read(offset, value);
    return c.Result(value);
}

void WRITE_REGISTER_ULONG(volatile ULONG* Register, ULONG Value) {
    std::uint32_t offset = GpioOffset(Register, "WRITE_REGISTER_ULONG");
    tracing::GpioWriteCall c(offset, Value);
    host::Handheld::Current().gpio().Write(offset, Value);
}
