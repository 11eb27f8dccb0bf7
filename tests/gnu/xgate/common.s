; Code and data shared by the XGATE threads.
        .sect .xgate_text,"ax"
        .globl xg_common
xg_common:
        nop
        nop
x_xg_back:
        bra   xg_sci_handler          ; R_M68HC12_10_PCREL, backwards
        rts

        .sect .xgate_tail,"ax"
        .globl xg_done
xg_done:
        sif
        rts

        .sect .xgate_data,"aw"
        .globl xg_counter, xg_flags
xg_counter:
        .word 0
xg_flags:
        .word 0, 0
