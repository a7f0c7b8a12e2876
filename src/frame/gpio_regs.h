// GpioRegs: the processor's general-purpose I/O registers, 32 bits each, at a fixed address.
#pragma once

#include "platform/win32api.h"

#define GPIO_REGS_BASE 0xA7000000u

// Register offsets in the block.
#define GPLR1_OFFSET 0x04  // pin level, pins 32-63
#define GPSR0_OFFSET 0x18  // output set, pins 0-31
#define GPSR1_OFFSET 0x1C  // output set, pins 32-63
#define GPCR0_OFFSET 0x24  // output clear, pins 0-31
#define GPCR1_OFFSET 0x28  // output clear, pins 32-63

#define GPIO_PIN21_BIT 0x00200000u  // in the pins 0-31 registers
#define GPIO_PIN38_BIT 0x00000040u  // in the pins 32-63 registers; high: the receiver is powered

inline volatile ULONG* GpioRegister(volatile ULONG* block, unsigned offset) { return block + offset / sizeof(ULONG); }

// Read, OR the bit in, write back.
inline void SetGpioBit(volatile ULONG* block, unsigned offset, ULONG bit) {
    volatile ULONG* reg = GpioRegister(block, offset);
    WRITE_REGISTER_ULONG(reg, READ_REGISTER_ULONG(reg) | bit);
}
