; The example firmware's LED driver in GNU assembly, in place of led.o of
; ../s12x-firmware: the same code, assembled by the GNU assembler into an
; ELF object (m68hc11-as -mm9s12x -o led.o led.s) and linked by zeld12
; beside the text objects of the other modules. .text joins the area text.
;
;    void led_toggle(void) { PORTB ^= 0x01; }
;
; PORTB (the absolute symbol _PORTB of io.o) is reached through the direct
; page: two R_M68HC11_8 fields.
        .sect .text
        .globl _led_toggle
_led_toggle:
        ldaa  *_PORTB
        eora  #1
        staa  *_PORTB
        rts
