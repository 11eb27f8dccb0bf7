; A branch out of reach, and code above the 16-bit space in an area no
; text object declared an extended code page.
        .sect .text
        .globl hop
hop:    brset 0,x,#1,faraway          ; R_M68HC11_PCREL_8
        .sect .text.far,"ax"
        .globl far_entry
far_entry:
        rts
