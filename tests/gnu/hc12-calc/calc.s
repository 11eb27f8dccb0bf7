; A small HC12 program: the startup module calls into the operators.
        .sect .text
        .globl __start
__start:
        lds   #stack+32               ; R_M68HC11_16 with an addend
        ldd   #5
        jsr   op_add                  ; R_M68HC11_16
x_lbsr_add:
        lbra  op_add                  ; R_M68HC11_PCREL_16
x_brclr_neg:
        brclr flags,#2,op_neg         ; R_M68HC11_PCREL_8
x_lbeq_tab:
        lbeq  op_tail+1               ; R_M68HC11_PCREL_16 with an addend
        ldx   #table                  ; R_M68HC11_16 to .rodata
        ldab  #%lo(table_end)         ; R_M68HC11_LO8
        ldaa  #%hi(table_end)         ; R_M68HC11_HI8
        swi

        .sect .bss
stack:  .skip 32
