; XGATE threads: the SCI handler counts, the timer handler shares its tail.
        .sect .xgate_text,"ax"
        .globl xg_sci_handler, xg_timer_handler
xg_sci_handler:
        ldl   r2, #%lo(xg_counter)    ; R_M68HC11_LO8
        ldh   r2, #%hi(xg_counter)    ; R_M68HC11_HI8
        ldw   r3, (r2, #0)
        addl  r3, #1
        stw   r3, (r2, #0)
x_xg_bra:
        bra   xg_common               ; R_M68HC12_10_PCREL, another module
x_xg_beq:
        beq   xg_common+2             ; R_M68HC12_9_PCREL with an addend
xg_timer_handler:
        ldl   r4, #%lo(xg_flags+2)    ; R_M68HC11_LO8 with an addend
        ldh   r4, #%hi(xg_flags+2)    ; R_M68HC11_HI8 with an addend
x_xg_bne:
        bne   xg_done                 ; R_M68HC12_9_PCREL to another section of another module
        bra   xg_timer_handler        ; resolved by the assembler
        rts

; A branch to a label of another section of this module would be written
; against that section's symbol without the label's offset: zeld12 refuses
; such a field, so the shared tail lives in common.s.
