        .sect .text
        .globl spare
spare:  .byte 0xEE
