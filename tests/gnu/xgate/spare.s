; A library member that nothing references: it must stay out of the link.
        .sect .xgate_text,"ax"
        .globl xg_spare
xg_spare:
        nop
        rts
        .sect .xgate_data,"aw"
        .word 0xDEAD
