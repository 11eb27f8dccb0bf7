; A library member that nothing references: it must stay out of the link.
        .sect .text
        .globl op_unused
op_unused:
        ldd   #0xBEEF
        rts
        .sect .rodata,"a"
        .word 0xBEEF
