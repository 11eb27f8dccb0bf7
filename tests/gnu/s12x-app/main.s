; Main loop: talks to the uart driver, keeps its state in .data.
        .sect .text
        .globl main, halt, banner
main:
        ldd   #banner                 ; R_M68HC11_16 to .rodata
        ldaa  #%lo(banner)            ; R_M68HC11_LO8
        ldab  #%hi(banner)            ; R_M68HC11_HI8
        ldx   #banner
        jsr   uart_puts
x_brset_ready:
        brset status,#1,uart_ready    ; R_M68HC11_PCREL_8, another module
        ldy   #counters+2             ; R_M68HC11_16 with an addend
        inc   0,y
x_lbne_main:
        lbne  uart_ready              ; R_M68HC11_PCREL_16
        rts
halt:   bra   halt                    ; resolved by the assembler
        rts

        .sect .rodata,"a"
banner: .ascii "zeld12\0"
        .byte  sci_channels           ; R_M68HC11_8 to an absolute symbol of uart.s
        .long  counters               ; R_M68HC11_32
        .word  main, halt+1           ; R_M68HC11_16

        .sect .data
        .globl status
status: .byte 0
counters:
        .word 0, 0, 0
        .word banner                  ; a pointer in initialised data
