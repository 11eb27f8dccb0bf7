; Operators; op_add looks its operand up in the table module.
        .sect .text
        .globl op_add, op_neg, op_tail, flags
op_add:
        jsr   table_lookup            ; R_M68HC11_16, the next member
        addd  operand                 ; R_M68HC11_16 to .data
        rts
op_neg:
        coma
        comb
        addd  #1
op_tail:
        nop
        rts

        .sect .data
flags:  .byte 2
operand:
        .word 0x1234
