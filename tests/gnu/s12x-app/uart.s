; The uart driver: polled output.
        .sect .text
        .globl uart_puts, uart_ready, tick, sci_channels
        sci_channels = 2
uart_puts:
        ldaa  1,x+
        beq   done
        staa  0xCF                    ; SCI0DRL, absolute
        brclr 0xCC,#0x80,uart_ready   ; resolved by the assembler
        bra   uart_puts
done:   rts
uart_ready:
        ldaa  *tick                   ; R_M68HC11_8
        inca
        staa  tick                    ; R_M68HC11_16 to .zpage
        ldx   #status                 ; R_M68HC11_16 to .data of main.s
x_lbra_init:
        lbra  in_init                 ; R_M68HC11_PCREL_16 against a section symbol
        rts

        .sect .text.init,"ax"
in_init:
        nop
        rts

        .sect .zpage,"aw",@nobits
tick:   .skip 2
