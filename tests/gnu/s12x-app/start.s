; Startup: stack, zero page, the banked initialisation, then main.
; Defines __start; every other module can come from a library.
        .sect .text
        .globl __start
__start:
        lds   #stack_top              ; R_M68HC11_16 to .bss
        ldaa  #0
        staa  *tick                   ; R_M68HC11_8 to .zpage of uart.s
x_call_init:
        call  board_init              ; R_M68HC11_24
x_call_plus:
        call  board_init+2            ; R_M68HC11_24 with an addend
        ldx   #%addr(page_table)      ; R_M68HC11_LO16
x_page:
        ldaa  #%page(page_table)      ; R_M68HC11_PAGE
x_page_plus:
        ldab  #%page(page_table+3)    ; R_M68HC11_PAGE with an addend
        ldy   #vector_table           ; R_M68HC11_16 to .vectors
        jsr   main                    ; R_M68HC11_16
x_lbra_exit:
        lbra  halt                    ; R_M68HC11_PCREL_16, another module

        .sect .bss
        .skip 64
stack_top:
