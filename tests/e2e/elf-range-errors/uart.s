; libu.a(uart.o): the byte fields of .data cannot hold the addresses they
; name, a global of main.o and a local label (a section symbol in the file).
        .sect .text
        .globl putc, faraway
faraway = 0x4000
putc:   ldaa  count
        rts
        .sect .rodata,"a"
msg:    .ascii "hi"
        .sect .data
        .byte count                   ; R_M68HC11_8 to a global in RAM
        .byte msg                     ; R_M68HC11_8 to a local label
