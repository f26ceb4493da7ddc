/* Demo operational code for the switch board: what runs after the boot
   loader hands over. It owns the board alone (no operating system, no
   interrupts): it prints a banner with the start mode it was given, then
   serves a small menu on the console through the 16550 UART by polling,
   shows the CPLD registers, blinks the front-panel lamps, echoes keys, and
   resets the board through the CPLD, which brings the loader back. */

#define UART_BASE 0xF0004500u
#define UART_RBR 0 /* receiver buffer */
#define UART_THR 0 /* transmitter holding register */
#define UART_LSR 5 /* line status */
#define LSR_DR 0x01
#define LSR_THRE 0x20

#define CPLD_BASE 0xD0000000u
#define CPLD_REGISTERS 16
#define CPLD_RESET_CONTROL 0x0
#define CPLD_LED1 0x1
#define CPLD_LED2 0x2
#define CPLD_RESET_REQUEST 0x10
#define LAMPS_A 0x03 /* lamp bits 0x01 and 0x02 */
#define LAMPS_B 0x30 /* lamp bits 0x10 and 0x20 */

#define START_MODE_NORMAL 1
#define START_MODE_DIAGNOSTICS 3

#define KEY_CONTROL_C 0x03
#define BLINKS 6
#define BLINK_TURNS 20000000u /* about a quarter second at 833 MHz */
#define SPIN_TURNS 100000000u

#ifndef DEMO_GREETING
#define DEMO_GREETING "Demo operational code"
#endif

extern void demo_spin(unsigned turns);
extern unsigned demo_here(void);

static volatile unsigned char *const uart = (volatile unsigned char *)UART_BASE;
static volatile unsigned char *const cpld = (volatile unsigned char *)CPLD_BASE;

static void put_char(char c) {
    while ((uart[UART_LSR] & LSR_THRE) == 0) {
    }
    uart[UART_THR] = (unsigned char)c;
}

static void put_text(const char *text) {
    for (; *text != '\0'; ++text) {
        if (*text == '\n') {
            put_char('\r');
        }
        put_char(*text);
    }
}

static void put_hex(unsigned value, int digits) {
    static const char hex[] = "0123456789abcdef";
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) {
        put_char(hex[(value >> shift) & 0xF]);
    }
}

static void put_decimal(unsigned value) {
    char digits[10];
    int n = 0;
    do {
        digits[n++] = (char)('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (n > 0) {
        put_char(digits[--n]);
    }
}

static int get_key(void) {
    while ((uart[UART_LSR] & LSR_DR) == 0) {
    }
    return uart[UART_RBR];
}

static const char *start_mode_name(unsigned mode) {
    switch (mode) {
        case START_MODE_NORMAL:
            return "normal start";
        case START_MODE_DIAGNOSTICS:
            return "switch diagnostics";
        default:
            return "unknown start mode";
    }
}

static void banner(unsigned mode) {
    put_text("\n" DEMO_GREETING ", start mode ");
    put_decimal(mode);
    put_text(" (");
    put_text(start_mode_name(mode));
    put_text("), running at 0x");
    put_hex(demo_here(), 8);
    put_text("\n");
}

static void menu(void) {
    put_text("\n"
             "  1  Show the CPLD registers\n"
             "  2  Blink the lamps\n"
             "  3  Echo keys (Ctrl-C ends)\n"
             "  4  Reset the board\n"
             "  5  Spin a tight loop\n"
             "Choice: ");
}

static void show_cpld(void) {
    put_text("CPLD registers at 0x");
    put_hex(CPLD_BASE, 8);
    put_text(":\n");
    for (int reg = 0; reg < CPLD_REGISTERS; ++reg) {
        put_text(reg % 8 == 0 ? "  " : " ");
        put_hex((unsigned)reg, 1);
        put_text("=");
        put_hex(cpld[reg], 2);
        if (reg % 8 == 7) {
            put_text("\n");
        }
    }
}

static void blink(void) {
    unsigned char saved1 = cpld[CPLD_LED1];
    unsigned char saved2 = cpld[CPLD_LED2];
    put_text("Blinking the lamps");
    for (int i = 0; i < BLINKS; ++i) {
        cpld[CPLD_LED1] = (i % 2 == 0) ? LAMPS_A : LAMPS_B;
        cpld[CPLD_LED2] = (i % 2 == 0) ? LAMPS_B : LAMPS_A;
        put_char('.');
        demo_spin(BLINK_TURNS);
    }
    cpld[CPLD_LED1] = saved1;
    cpld[CPLD_LED2] = saved2;
    put_text(" done\n");
}

static void echo(void) {
    put_text("Echoing keys; Ctrl-C ends.\n");
    for (;;) {
        int key = get_key();
        if (key == KEY_CONTROL_C) {
            put_text("\n");
            return;
        }
        if (key == '\r') {
            put_char('\r');
            key = '\n';
        }
        put_char((char)key);
    }
}

static void reset_board(void) {
    put_text("Resetting the board.\n");
    for (;;) {
        cpld[CPLD_RESET_CONTROL] = CPLD_RESET_REQUEST;
    }
}

static void spin(void) {
    put_text("Spinning ");
    put_decimal(SPIN_TURNS);
    put_text(" turns...");
    demo_spin(SPIN_TURNS);
    put_text(" done\n");
}

void demo_main(unsigned mode) {
    banner(mode);
    for (;;) {
        menu();
        int key = get_key();
        while (key == '\r' || key == '\n') {
            key = get_key();
        }
        put_char((char)key);
        put_text("\n");
        switch (key) {
            case '1':
                show_cpld();
                break;
            case '2':
                blink();
                break;
            case '3':
                echo();
                break;
            case '4':
                reset_board();
                break;
            case '5':
                spin();
                break;
            default:
                put_text("Unknown choice.\n");
                break;
        }
    }
}
