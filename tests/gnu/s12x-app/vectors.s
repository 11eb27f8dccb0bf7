; The reset vector and an interrupt vector.
        .sect .vectors,"a"
        .globl vector_table
vector_table:
        .word uart_ready              ; SCI0
        .word __start                 ; reset
