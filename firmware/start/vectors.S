/* The firmware's exception vectors. IVPR points at this table (the first
 * thing in the image, so 64 KiB aligned) and each IVOR at one entry.
 *
 * The loader runs with external, critical and timer interrupts masked and
 * polls its devices, so the timer entries only acknowledge a stray
 * interrupt and return. Every other exception is fatal to the loader: its
 * entry hands the kind and the core's save and syndrome registers to
 * firmwareException(), which reaches the handler the loader installed and
 * does not return. The interrupted stack is kept (the handler's frame is
 * pushed on it) so that the loader's stack trace walks on into the code
 * that took the exception. */
#include "e500_regs.h"

/* Fatal entry: r3 = kind, then the common tail. Nothing is saved: nothing
 * returns to the interrupted code. */
.macro fatal_vector name, kind
    .balign 16
    .globl  \name
\name:
    li      %r3, \kind
    b       exceptionFatal
.endm

    .section .vectors, "ax"
    .globl  __vectors_start
__vectors_start:
    fatal_vector vectorCritical, EXCEPTION_CRITICAL
    fatal_vector vectorMachineCheck, EXCEPTION_MACHINE_CHECK
    fatal_vector vectorDataStorage, EXCEPTION_DATA_STORAGE
    fatal_vector vectorInstructionStorage, EXCEPTION_INSTRUCTION_STORAGE
    fatal_vector vectorExternal, EXCEPTION_EXTERNAL
    fatal_vector vectorAlignment, EXCEPTION_ALIGNMENT
    fatal_vector vectorProgram, EXCEPTION_PROGRAM
    fatal_vector vectorSystemCall, EXCEPTION_SYSTEM_CALL
    fatal_vector vectorWatchdog, EXCEPTION_WATCHDOG
    fatal_vector vectorDataTlb, EXCEPTION_DATA_TLB
    fatal_vector vectorInstructionTlb, EXCEPTION_INSTRUCTION_TLB
    fatal_vector vectorDebug, EXCEPTION_DEBUG
    fatal_vector vectorUnavailable, EXCEPTION_UNAVAILABLE
    fatal_vector vectorSpe, EXCEPTION_SPE
    fatal_vector vectorPerformanceMonitor, EXCEPTION_PERFORMANCE_MONITOR

    /* Decrementer and fixed-interval timer: clear both status bits and go
     * back. r3 is kept in an OS scratch register meanwhile. */
    .balign 16
    .globl  vectorTimer
vectorTimer:
    mtspr   SPR_SPRG2, %r3
    lis     %r3, (TSR_DIS | TSR_FIS)@h
    mtspr   SPR_TSR, %r3           /* write one to clear */
    mfspr   %r3, SPR_SPRG2
    rfi

    /* The common tail. Its frame is laid out as a function's (stwu, then
     * mflr r0, then the return address stored from r0), so that the
     * loader's stack walk reads it like any other: the return address it
     * finds is the instruction that took the exception, and the walk goes
     * on into the interrupted code. Then the dispatcher, with the kind
     * (r3), the saved address and machine state of the exception's class
     * (r4, r5: critical, machine check or base save registers), DEAR and
     * ESR (r6, r7) and MCSR (r8). */
exceptionFatal:
    stwu    %r1, -16(%r1)
    mflr    %r0
    mfspr   %r4, SPR_SRR0
    mfspr   %r5, SPR_SRR1
    cmpwi   %r3, EXCEPTION_MACHINE_CHECK
    bne     1f
    mfspr   %r4, SPR_MCSRR0        /* a machine check saves its own pair */
    mfspr   %r5, SPR_MCSRR1
    b       2f
1:  cmpwi   %r3, EXCEPTION_CRITICAL
    beq     3f
    cmpwi   %r3, EXCEPTION_WATCHDOG
    beq     3f
    cmpwi   %r3, EXCEPTION_DEBUG
    bne     2f
3:  mfspr   %r4, SPR_CSRR0         /* the critical class saves its own pair too */
    mfspr   %r5, SPR_CSRR1
2:  mr      %r0, %r4
    stw     %r0, 20(%r1)           /* the return address slot of this frame */
    mfspr   %r6, SPR_DEAR
    mfspr   %r7, SPR_ESR
    mfspr   %r8, SPR_MCSR
    bl      firmwareException
4:  b       4b

    /* No executable stack wanted. */
    .section .note.GNU-stack, "", @progbits
