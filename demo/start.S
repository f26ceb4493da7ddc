/* Entry of the demo operational code. The loader calls the load address
   with the start mode in r3, interrupts off. Like a real image's entry, it
   sets up a stack of its own, clears .bss, and calls demo_main with the
   start mode; demo_main never returns (the board is reset through the
   CPLD). */
    .section .text.entry, "ax"
    .globl _start
_start:
    lis     %r1, __stack_top@ha
    addi    %r1, %r1, __stack_top@l
    li      %r0, 0
    stwu    %r0, -16(%r1)          /* a zero back chain ends stack walks here */
    lis     %r4, __bss_start@ha
    addi    %r4, %r4, __bss_start@l
    lis     %r5, __bss_end@ha
    addi    %r5, %r5, __bss_end@l
1:  cmplw   %r4, %r5
    bge     2f
    stw     %r0, 0(%r4)
    addi    %r4, %r4, 4
    b       1b
2:  bl      demo_main               /* r3 still holds the start mode */
3:  b       3b

/* demo_spin(turns): a tight loop of one instruction per turn, for timing
   the core. */
    .text
    .globl demo_spin
demo_spin:
    cmpwi   %r3, 0
    beqlr
    mtctr   %r3
4:  bdnz    4b
    blr

/* demo_here(): the address this code runs at (where _start is), found
   from the program counter rather than from the link. */
    .section .text.entry, "ax"
    .globl demo_here
demo_here:
    mflr    %r0
    bl      5f
5:  mflr    %r3
    mtlr    %r0
    subi    %r3, %r3, (5b - _start)
    blr

    .section .note.GNU-stack, "", @progbits
