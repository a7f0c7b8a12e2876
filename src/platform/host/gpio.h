// The processor's GPIO register block, with pin 38 that the receiver's hardware may drive.
//
// READ_REGISTER_ULONG and WRITE_REGISTER_ULONG route the addresses kBase .. kBase + kSize here
// and record every access ("offset" and "Value" as hex). The block has the PXA25x layout:
//   0x00 0x04 0x08  GPLR0-2  pin levels (read only)
//   0x0C 0x10 0x14  GPDR0-2  directions
//   0x18 0x1C 0x20  GPSR0-2  output set: each 1 bit raises its pin; reads 0
//   0x24 0x28 0x2C  GPCR0-2  output clear: each 1 bit lowers its pin; reads 0
//   0x30 .. 0x44    GRER, GFER  edge-detect enables
//   0x48 0x4C 0x50  GEDR0-2  edge-detect status (no edges are detected here: reads 0)
//   0x54 .. 0x68    GAFR0_L .. GAFR2_U  alternate functions
// A level reads back what set and clear last drove, unless the hardware drives the pin. Any other
// address is a programming error: the handheld would take a data abort, the host aborts.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "platform/host/hardware_settings.h"
#include "platform/host/seam.h"

namespace host {

class GpioBlock {
public:
    static constexpr std::uint32_t kBase = 0xA7000000;
    static constexpr std::uint32_t kSize = 0x6C;
    static constexpr int kPins = 85;  // GPIO0 .. GPIO84

    // The hardware's drive of pin 38 is kept in `registry` with the device's other settings.
    explicit GpioBlock(RegistryStore& registry);
    ~GpioBlock();
    GpioBlock(const GpioBlock&) = delete;
    GpioBlock& operator=(const GpioBlock&) = delete;

    // --- what the pins are doing (every pin starts low, pin 38 too, driven by nobody) ---
    // The level a read of GPLR shows.
    bool PinLevel(int pin) const;
    // The level last driven through the set and clear registers.
    bool OutputLevel(int pin) const;
    // The level the hardware holds the pin at; empty while it leaves the pin alone.
    std::optional<bool> HardwareLevel(int pin) const;
    bool Pin38DrivenByHardware() const { return HardwareLevel(38).has_value(); }

    // --- what the hardware does ---
    // Holds the pin high (true) or low (false), or releases it (empty): the level then reads
    // back what set and clear drove.
    void DrivePin(int pin, std::optional<bool> level);
    void DrivePin38(std::optional<bool> level) { DrivePin(38, level); }

    // --- the processor's side: one 32-bit access at `offset` (4-aligned, below kSize) ---
    ULONG Read(std::uint32_t offset) const;
    void Write(std::uint32_t offset, ULONG value);

private:
    static constexpr int kBanks = 3;
    using Bank = std::array<ULONG, kBanks>;

    // Pin 38's hardware drive belongs to the device (a tool may set it while the system runs), so
    // it is kept with the hardware settings; the other pins' drive lives here.
    void SyncPin38() const;

    RegistryStore& registry_;
    mutable HardwareSetting pin38_setting_{u"Gpio", u"Pin38"};
    Bank output_{};                         // what set and clear drove
    mutable Bank hw_mask_{};                // pins the hardware drives
    mutable Bank hw_level_{};               // and at what level
    std::array<ULONG, kSize / 4> plain_{};  // directions, edge enables, alternate functions
};

}  // namespace host
