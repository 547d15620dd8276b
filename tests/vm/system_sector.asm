; A test fixture for the emulated PC: it stands in for an operating
; system's boot sector in a FAT volume's code area, started by the card's
; master boot record as a system's would be. It reports on the first serial
; port what a DOS-era system boots with: the drive number in DL, the BPB's
; heads and sectors per track, and the BIOS's own geometry for that drive
; (INT 13h AH=08h), then whether DS:SI points at an active partition entry,
; and ends the emulator through QEMU's isa-debug-exit port.
;   booted: dl=80 bpb=16x63 bios=16x63 entry=80
; Assembled with -DCODE_OFFSET=0x3E (FAT16) or 0x5A (FAT32).

        bits    16
        cpu     386
        org     0x7C00 + CODE_OFFSET

SERIAL  equ     0x3F8
EXIT    equ     0xF4                    ; isa-debug-exit's port

start:
        mov     [cs:drive], dl
        mov     al, [si]                ; the entry's flag, read through DS:SI
        mov     [cs:flag], al
        xor     ax, ax
        mov     ds, ax
        mov     es, ax
        mov     ss, ax
        mov     sp, 0x7C00
        mov     si, text_booted
        call    puts
        mov     al, [drive]
        call    puthex
        mov     si, text_bpb
        call    puts
        mov     ax, [0x7C00 + 26]       ; BPB heads
        call    putdec
        mov     al, 'x'
        call    putc
        mov     ax, [0x7C00 + 24]       ; BPB sectors per track
        call    putdec
        mov     si, text_bios
        call    puts
        mov     ah, 0x08
        mov     dl, [drive]
        int     0x13
        push    cx
        movzx   ax, dh
        inc     ax                      ; the last head + 1
        call    putdec
        mov     al, 'x'
        call    putc
        pop     cx
        mov     ax, cx
        and     ax, 0x3F
        call    putdec
        mov     si, text_entry
        call    puts
        mov     al, [flag]
        call    puthex
        mov     al, 10
        call    putc
        mov     al, 0
        out     EXIT, al
.halt:  hlt
        jmp     .halt

putc:                                   ; AL to the serial port, when it is ready
        push    dx
        push    ax
        mov     dx, SERIAL + 5
.wait:  in      al, dx
        test    al, 0x20
        jz      .wait
        pop     ax
        mov     dx, SERIAL
        out     dx, al
        pop     dx
        ret

puts:
        lodsb
        test    al, al
        jz      .done
        call    putc
        jmp     puts
.done:  ret

puthex:                                 ; AL as two hex digits
        push    ax
        shr     al, 4
        call    .digit
        pop     ax
        and     al, 0x0F
.digit: add     al, '0'
        cmp     al, '9'
        jbe     .out
        add     al, 7
.out:   jmp     putc

putdec:                                 ; AX in decimal
        mov     bx, 10
        xor     cx, cx
.split: xor     dx, dx
        div     bx
        push    dx
        inc     cx
        test    ax, ax
        jnz     .split
.emit:  pop     ax
        add     al, '0'
        call    putc
        loop    .emit
        ret

text_booted     db      "booted: dl=", 0
text_bpb        db      " bpb=", 0
text_bios       db      " bios=", 0
text_entry      db      " entry=", 0
drive   db      0
flag    db      0
