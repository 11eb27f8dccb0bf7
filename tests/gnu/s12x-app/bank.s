; Banked code and data in the page window.
        .sect .text.bank3,"ax"
        .globl board_init, page_table
board_init:
        nop
        nop
        ldx   #page_table             ; window address (R_M68HC11_16)
        jsr   uart_puts               ; near code from banked code
x_call_far:
        call  far_helper              ; R_M68HC11_24 within the bank
        rtc
far_helper:
        rtc

        .sect .ppage_data,"a"
page_table:
        .word 1, 2, 3, 4
        .word board_init              ; window address of banked code
