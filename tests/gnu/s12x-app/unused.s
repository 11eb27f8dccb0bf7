; A library member that nothing references: it must stay out of the link.
        .sect .text
        .globl never_called
never_called:
        ldd   #0xDEAD
        rts
        .sect .data
        .byte 0xEE
