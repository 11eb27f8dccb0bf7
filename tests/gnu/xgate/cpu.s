; S12X side: starts the XGATE co-processor on its vector table.
        .sect .text
        .globl __start
__start:
        lds   #0x3F00
        ldd   #xg_vectors             ; R_M68HC11_16 to the XGATE vector table
        std   0x0382                  ; XGVBR
        ldaa  xg_counter+1            ; R_M68HC11_16 into XGATE data
        bra   __start

; XGATE vectors: the handler's address and the data it gets in R1.
        .sect .xgate_vectors,"a"
        .globl xg_vectors
xg_vectors:
        .word xg_sci_handler, xg_counter
        .word xg_timer_handler, xg_flags
