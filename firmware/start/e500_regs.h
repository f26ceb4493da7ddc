/* Special purpose register numbers and bits of the e500 core that the
 * firmware's start-up and exception code use. Included by assembly and by
 * C++, so plain defines only. */
#ifndef SWBOOT_FIRMWARE_E500_REGS_H
#define SWBOOT_FIRMWARE_E500_REGS_H

/* Special purpose registers. */
#define SPR_DEC 22
#define SPR_SRR0 26
#define SPR_SRR1 27
#define SPR_CSRR0 58
#define SPR_CSRR1 59
#define SPR_DEAR 61
#define SPR_ESR 62
#define SPR_IVPR 63
#define SPR_TBL_READ 268
#define SPR_TBU_READ 269
#define SPR_SPRG0 272
#define SPR_SPRG1 273
#define SPR_SPRG2 274
#define SPR_SPRG3 275
#define SPR_TBL_WRITE 284
#define SPR_TBU_WRITE 285
#define SPR_TSR 336
#define SPR_IVOR0 400  /* critical input */
#define SPR_IVOR1 401  /* machine check */
#define SPR_IVOR2 402  /* data storage */
#define SPR_IVOR3 403  /* instruction storage */
#define SPR_IVOR4 404  /* external input */
#define SPR_IVOR5 405  /* alignment */
#define SPR_IVOR6 406  /* program */
#define SPR_IVOR7 407  /* floating-point unavailable */
#define SPR_IVOR8 408  /* system call */
#define SPR_IVOR9 409  /* auxiliary processor unavailable */
#define SPR_IVOR10 410 /* decrementer */
#define SPR_IVOR11 411 /* fixed-interval timer */
#define SPR_IVOR12 412 /* watchdog */
#define SPR_IVOR13 413 /* data TLB miss */
#define SPR_IVOR14 414 /* instruction TLB miss */
#define SPR_IVOR15 415 /* debug */
#define SPR_IVOR32 528 /* SPE unavailable */
#define SPR_IVOR33 529 /* SPE floating-point data */
#define SPR_IVOR34 530 /* SPE floating-point round */
#define SPR_IVOR35 531 /* performance monitor */
#define SPR_MCSRR0 570
#define SPR_MCSRR1 571
#define SPR_MCSR 572
#define SPR_MCAR 573
#define SPR_MAS0 624
#define SPR_MAS1 625
#define SPR_MAS2 626
#define SPR_MAS3 627
#define SPR_MAS7 944
#define SPR_HID0_NUMBER 1008

/* The OS scratch register that holds the address of the firmware's CPU
 * object, so that exception vectors (which have no other context) can reach
 * the handlers the loader installed. */
#define SPR_CPU_OBJECT SPR_SPRG3

/* MAS0: TLB1, entry select in bits 16..19. */
#define MAS0_TLB1 0x1000
/* MAS1 upper half: valid, protected from invalidation. */
#define MAS1_VALID_IPROT 0xC000
/* MAS1 page sizes (TSIZE, bits 8..11), powers of four from 4 KiB. */
#define TSIZE_4K 1
#define TSIZE_256K 4
#define TSIZE_1M 5
#define TSIZE_16M 7
#define TSIZE_256M 9
/* MAS2 storage attributes. */
#define MAS2_CACHE_INHIBITED 0x08
#define MAS2_GUARDED 0x02
#define MAS2_DEVICE (MAS2_CACHE_INHIBITED | MAS2_GUARDED)
/* MAS3 supervisor execute, write and read. */
#define MAS3_SUPERVISOR_RWX 0x15

/* HID0: time base enable. */
#define HID0_TBEN 0x00004000
/* MSR: machine check enable. */
#define MSR_ME_BIT 0x00001000
#define MSR_CE_BIT 0x00020000
#define MSR_EE_BIT 0x00008000
/* TSR: decrementer and fixed-interval interrupt status (write 1 to clear). */
/* Machine check syndrome: the input pin, and no device answering a read or
 * a write. */
#define MCSR_MCP 0x80000000
#define MCSR_BUS_RAERR 0x00000040
#define MCSR_BUS_WAERR 0x00000020

#define TSR_DIS 0x08000000
#define TSR_FIS 0x04000000

/* Exception kinds passed to the dispatcher. */
#define EXCEPTION_CRITICAL 0
#define EXCEPTION_MACHINE_CHECK 1
#define EXCEPTION_DATA_STORAGE 2
#define EXCEPTION_INSTRUCTION_STORAGE 3
#define EXCEPTION_EXTERNAL 4
#define EXCEPTION_ALIGNMENT 5
#define EXCEPTION_PROGRAM 6
#define EXCEPTION_UNAVAILABLE 7
#define EXCEPTION_SYSTEM_CALL 8
#define EXCEPTION_WATCHDOG 12
#define EXCEPTION_DATA_TLB 13
#define EXCEPTION_INSTRUCTION_TLB 14
#define EXCEPTION_DEBUG 15
#define EXCEPTION_SPE 32
#define EXCEPTION_PERFORMANCE_MONITOR 35

#endif
