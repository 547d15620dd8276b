; The boot code that --boot writes into a FAT volume's boot sector, after its
; BPB: the card holds an empty volume, so instead of loading a system it says
; so on the screen and how to put one on the card, waits for a key, and
; hands the boot on to the BIOS's next device (INT 18h).
;
; The code begins where the BPB ends, which depends on the FAT kind: the
; build assembles this file once for each, with CODE_OFFSET the offset of the
; code area in the sector (3Eh after a FAT12/16 BPB, 5Ah after a FAT32 one),
; and the sector's jump at byte 0 leads there. The area ends before the
; 55 AA signature at 1FEh; the build refuses code that does not fit.
; Only documented BIOS services are used: INT 10h AH=0Eh, INT 16h AH=00h and
; INT 18h.

        bits    16
        cpu     8086

%ifndef CODE_OFFSET
%error "CODE_OFFSET: the code area's offset in the boot sector"
%endif

LOADED  equ     0x7C00                  ; where the master boot record put the sector
        org     LOADED + CODE_OFFSET

start:
        cli
        xor     ax, ax
        mov     ss, ax
        mov     sp, LOADED
        mov     ds, ax
        sti
        cld
        mov     si, message
.print:
        lodsb
        test    al, al
        jz      .wait
        mov     ah, 0x0E                ; teletype output
        mov     bx, 0x0007
        int     0x10
        jmp     .print
.wait:
        xor     ah, ah                  ; wait for a key
        int     0x16
        int     0x18                    ; boot from the next device
.halt:                                  ; a BIOS with no next device may return
        sti
        hlt
        jmp     .halt

message:
        db      13, 10
        db      "This card holds no operating system yet.", 13, 10
        db      "To start a system from it, put that system on it: for DOS", 13, 10
        db      "and Windows 9x, start the machine from a boot floppy of the", 13, 10
        db      "system and run SYS C: (the card's drive letter there).", 13, 10
        db      "Press a key to start from the next device.", 13, 10, 0
