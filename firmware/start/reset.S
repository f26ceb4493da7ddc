/* The firmware's start-up: from the reset vector of the boot flash to the
 * loader in RAM.
 *
 * After reset the e500 fetches from 0xFFFFFFFC with one translation in
 * force: TLB1 entry 0, the 4 KiB page 0xFFFFF000 of the boot flash. Caches
 * are off, interrupts are off, the time base is stopped. This code runs in
 * that page, makes the translations the loader needs, copies the firmware
 * image out of the boot flash into the top megabyte of RAM and goes on
 * there. Running from RAM is not a matter of speed: the loader programs the
 * boot flash (the boot code update, the flash diagnostics), and a flash
 * being programmed answers status words instead of instructions.
 *
 * Memory after start-up (all with effective address = physical address):
 *   0x00000000  256 MiB  RAM (the firmware lives in its top megabyte)
 *   0xC0000000    4 KiB  reboot request
 *   0xD0000000    4 KiB  CPLD
 *   0xE0000000    4 KiB  volume service
 *   0xF0000000    1 MiB  processor configuration registers (UART, I2C, PCI)
 *   0xFE000000   32 MiB  NOR flash (two 16 MiB entries)
 */
#include "e500_regs.h"

/* Writes TLB1 entry ESEL: EA -> PA, page size TSIZE, attributes WIMGE,
 * supervisor read, write and execute. Uses r3. Entries are marked protected so
 * that a broadcast invalidation cannot take them away. */
.macro tlb1_entry esel, ea, pa, tsize, wimge
    lis     %r3, MAS0_TLB1 | \esel
    mtspr   SPR_MAS0, %r3
    lis     %r3, MAS1_VALID_IPROT
    ori     %r3, %r3, (\tsize << 8)
    mtspr   SPR_MAS1, %r3
    lis     %r3, \ea@h
    ori     %r3, %r3, \wimge
    mtspr   SPR_MAS2, %r3
    lis     %r3, \pa@h
    ori     %r3, %r3, MAS3_SUPERVISOR_RWX
    mtspr   SPR_MAS3, %r3
    li      %r3, 0
    mtspr   SPR_MAS7, %r3          /* physical addresses above 4 GiB: none */
    isync                          /* the MAS writes complete before tlbwe */
    tlbwe
    isync                          /* the new entry is in force for what follows */
.endm

/* Makes TLB1 entry ESEL invalid. Uses r3. */
.macro tlb1_invalidate esel
    lis     %r3, MAS0_TLB1 | \esel
    mtspr   SPR_MAS0, %r3
    li      %r3, 0
    mtspr   SPR_MAS1, %r3
    isync
    tlbwe
    isync
.endm

#define FLASH_HIGH 0xFF000000
#define IMAGE_FLASH 0xFFF00000

    .section .boot, "ax"
    .globl  _reset
_reset:
    li      %r0, 0
    mtmsr   %r0                    /* no interrupts until there are handlers */
    isync

    /* The translations the loader keeps. The upper 16 MiB of the flash
     * cannot have its entry yet: beside entry 0 (the boot page) a fetch
     * from this page would hit two entries. Until the code runs from RAM,
     * two 256 KiB entries reach the stored image (its build keeps it
     * within their 512 KiB). */
    tlb1_entry 1, 0x00000000, 0x00000000, TSIZE_256M, 0
    tlb1_entry 2, 0xF0000000, 0xF0000000, TSIZE_1M, MAS2_DEVICE
    tlb1_entry 3, 0xD0000000, 0xD0000000, TSIZE_4K, MAS2_DEVICE
    tlb1_entry 4, 0xC0000000, 0xC0000000, TSIZE_4K, MAS2_DEVICE
    tlb1_entry 5, 0xE0000000, 0xE0000000, TSIZE_4K, MAS2_DEVICE
    tlb1_entry 6, 0xFE000000, 0xFE000000, TSIZE_16M, MAS2_DEVICE
    tlb1_entry 8, IMAGE_FLASH, IMAGE_FLASH, TSIZE_256K, MAS2_DEVICE
    tlb1_entry 9, IMAGE_FLASH + 0x40000, IMAGE_FLASH + 0x40000, TSIZE_256K, MAS2_DEVICE

    /* Copy the image (code, read-only data, initialised data) to its RAM
     * address, a word at a time. The linker script keeps it a whole number
     * of words. */
    lis     %r3, __image_load@h
    ori     %r3, %r3, __image_load@l
    lis     %r4, __image_start@h
    ori     %r4, %r4, __image_start@l
    lis     %r5, __image_words@h
    ori     %r5, %r5, __image_words@l
    mtctr   %r5
    addi    %r3, %r3, -4           /* lwzu/stwu pre-increment */
    addi    %r4, %r4, -4
3:  lwzu    %r6, 4(%r3)
    stwu    %r6, 4(%r4)
    bdnz    3b

    /* Zero the uninitialised data, a word at a time. */
    lis     %r4, __bss_start@h
    ori     %r4, %r4, __bss_start@l
    lis     %r5, __bss_words@h
    ori     %r5, %r5, __bss_words@l
    cmpwi   %r5, 0
    beq     4f
    mtctr   %r5
    addi    %r4, %r4, -4
    li      %r6, 0
5:  stwu    %r6, 4(%r4)
    bdnz    5b
4:
    /* The stack: its top at the end of RAM, a zero back chain so that a
     * stack walk ends there. */
    lis     %r1, __stack_top@h
    ori     %r1, %r1, __stack_top@l
    li      %r0, 0
    stwu    %r0, -16(%r1)

    /* Caches are off since reset, so the copied code needs no cache
     * maintenance before it is fetched. */
    lis     %r3, firmwareRamEntry@h
    ori     %r3, %r3, firmwareRamEntry@l
    mtctr   %r3
    bctr

    /* The reset vector: the last word of the boot flash. */
    .section .resetvec, "ax"
    .globl  _reset_vector
_reset_vector:
    b       _reset

    /* From here on the code runs in RAM. */
    .section .text.firmwareRamEntry, "ax"
    .globl  firmwareRamEntry
firmwareRamEntry:
    /* Out of the boot flash: the boot page's entry and the image's two
     * go, and the upper flash gets its entry. */
    tlb1_invalidate 0
    tlb1_invalidate 8
    tlb1_invalidate 9
    tlb1_entry 7, FLASH_HIGH, FLASH_HIGH, TSIZE_16M, MAS2_DEVICE

    /* Exception vectors: IVPR holds the upper half of the vector table's
     * address, each IVOR the offset of its handler. */
    lis     %r3, __vectors_start@h
    mtspr   SPR_IVPR, %r3
    li      %r3, vectorCritical@l
    mtspr   SPR_IVOR0, %r3
    li      %r3, vectorMachineCheck@l
    mtspr   SPR_IVOR1, %r3
    li      %r3, vectorDataStorage@l
    mtspr   SPR_IVOR2, %r3
    li      %r3, vectorInstructionStorage@l
    mtspr   SPR_IVOR3, %r3
    li      %r3, vectorExternal@l
    mtspr   SPR_IVOR4, %r3
    li      %r3, vectorAlignment@l
    mtspr   SPR_IVOR5, %r3
    li      %r3, vectorProgram@l
    mtspr   SPR_IVOR6, %r3
    li      %r3, vectorSystemCall@l
    mtspr   SPR_IVOR8, %r3
    li      %r3, vectorTimer@l
    mtspr   SPR_IVOR10, %r3
    mtspr   SPR_IVOR11, %r3
    li      %r3, vectorWatchdog@l
    mtspr   SPR_IVOR12, %r3
    li      %r3, vectorDataTlb@l
    mtspr   SPR_IVOR13, %r3
    li      %r3, vectorInstructionTlb@l
    mtspr   SPR_IVOR14, %r3
    li      %r3, vectorDebug@l
    mtspr   SPR_IVOR15, %r3
    li      %r3, vectorUnavailable@l
    mtspr   SPR_IVOR7, %r3
    mtspr   SPR_IVOR9, %r3
    li      %r3, vectorSpe@l
    mtspr   SPR_IVOR32, %r3
    mtspr   SPR_IVOR33, %r3
    mtspr   SPR_IVOR34, %r3
    li      %r3, vectorPerformanceMonitor@l
    mtspr   SPR_IVOR35, %r3

    /* Start the time base. The clock counts from wherever it stands. */
    mfspr   %r3, SPR_HID0_NUMBER
    ori     %r3, %r3, HID0_TBEN
    msync                          /* HID0 writes want a quiet core */
    isync
    mtspr   SPR_HID0_NUMBER, %r3
    isync

    /* Machine checks on: a bus error reaches the loader's fatal path.
     * External and critical interrupts are enabled as the loader's
     * operating system runs them; nothing on this board raises them (the
     * loader polls its devices, and the decrementer's interrupt stays off
     * in TCR), and a stray one reaches its vector. */
    lis     %r3, (MSR_ME_BIT | MSR_CE_BIT | MSR_EE_BIT)@h
    ori     %r3, %r3, (MSR_ME_BIT | MSR_CE_BIT | MSR_EE_BIT)@l
    mtmsr   %r3
    isync

    bl      firmwareMain
4:  b       4b                     /* firmwareMain does not return */

    /* No executable stack wanted. */
    .section .note.GNU-stack, "", @progbits
