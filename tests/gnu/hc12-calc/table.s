; A constant table and its lookup.
        .sect .text
        .globl table_lookup, table, table_end
table_lookup:
        ldx   #table
        ldd   2,x
        rts

        .sect .rodata,"a"
table:  .word 1, 2, 4, 8
        .word op_add, op_neg          ; R_M68HC11_16 back into ops.s
        .long table_end             ; R_M68HC11_32
table_end:
