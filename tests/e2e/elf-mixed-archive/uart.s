; libu.a(uart.o): putc for the text object main.o, reading main.o's count;
; a pointer to putc in .data and one to a local label in .rodata.
; libu.a(spare.o) defines only spare, which nothing needs.
        .sect .text
        .globl putc
putc:   ldaa  count
        rts
        .sect .rodata,"a"
        .word msg+1
msg:    .ascii "hi"
        .sect .data
        .word putc
