; The master boot record's code that --boot writes into bytes 0 to 439 of a
; card's first sector. The BIOS loads the sector at 0:7C00 and jumps there
; with DL the drive it booted from. The code:
;   1. moves itself to 0:0600, so that the partition's first sector can be
;      loaded where the BIOS put this one;
;   2. finds the one entry marked active (80h); none, two or more, or a flag
;      that is neither 0 nor 80h stop with a message;
;   3. reads the entry's first sector to 0:7C00: through the INT 13h
;      extensions (AH=42h, by LBA) when the BIOS has them for the drive, by
;      CHS from the entry (AH=02h) otherwise; a failed read is retried after
;      a disk reset (AH=00h);
;   4. checks the sector's 55 AA signature and jumps to it with DL the boot
;      drive and DS:SI the active entry, as a partition's boot sector
;      expects.
; Only documented BIOS services are used: INT 10h AH=0Eh (teletype output),
; INT 13h AH=00h, 02h, 41h and 42h.
;
; Assembled with nasm -f bin; the build refuses a result over 440 bytes (the
; disk signature and the partition table follow).

        bits    16
        cpu     8086
        org     0x0600

LOADED          equ     0x7C00          ; where the BIOS put us, and where the partition's sector goes
RELOCATED       equ     0x0600
TABLE           equ     RELOCATED + 446 ; the four 16-byte entries
SIGNATURE       equ     LOADED + 510    ; 55 AA of the loaded sector
ACTIVE          equ     0x80
READ_TRIES      equ     4               ; a read and three retries after a reset

start:
        cli
        xor     ax, ax
        mov     ss, ax
        mov     sp, LOADED              ; the stack grows down from below our first copy
        mov     ds, ax
        mov     es, ax
        sti
        cld
        mov     si, LOADED
        mov     di, RELOCATED
        mov     cx, 256
        rep movsw
        jmp     0:relocated             ; far jump: CS becomes 0 whatever the BIOS set

relocated:
        ; The variables start cleared: the packet's reserved byte and the
        ; upper half of its sector number are 0.
        mov     di, packet
        mov     cx, entry + 2 - packet
        xor     al, al
        rep stosb
        ; Some BIOSes hand over a drive number below 80h (a floppy's) for a
        ; card in an IDE adapter; the card is the first fixed disk then.
        cmp     dl, 0x80
        jae     .drive_known
        mov     dl, 0x80
.drive_known:
        mov     [drive], dl

        ; The active entry: exactly one entry has 80h, the others 0.
        mov     si, TABLE
        xor     bx, bx                  ; the active entry found, 0: none yet
        mov     cx, 4
.scan:
        mov     al, [si]
        test    al, al
        jz      .next
        cmp     al, ACTIVE
        jne     bad_table
        test    bx, bx
        jnz     two_active
        mov     bx, si
.next:
        add     si, 16
        loop    .scan
        test    bx, bx
        jz      no_active
        mov     [entry], bx

        ; The INT 13h extensions: present when AH=41h answers BX=AA55h with
        ; carry clear, and usable for reads when CX bit 0 (the fixed disk
        ; access subset) is set.
        mov     ah, 0x41
        mov     bx, 0x55AA
        mov     dl, [drive]
        int     0x13
        jc      .no_extensions
        cmp     bx, 0xAA55
        jne     .no_extensions
        test    cl, 1
        jz      .no_extensions
        mov     byte [use_lba], 1
.no_extensions:

        mov     byte [tries], READ_TRIES
read:
        mov     si, [entry]
        mov     dl, [drive]
        cmp     byte [use_lba], 0
        je      .chs
        ; The disk address packet: 16 bytes, one sector, to 0:7C00, from the
        ; entry's 32-bit first sector (the upper 32 bits stay 0).
        mov     byte [packet_size], 16
        mov     byte [packet_count], 1
        mov     word [packet_offset], LOADED
        mov     ax, [si + 8]
        mov     [packet_lba], ax
        mov     ax, [si + 10]
        mov     [packet_lba + 2], ax
        mov     si, packet
        mov     ah, 0x42
        int     0x13
        jmp     .done
.chs:
        ; The entry's start: head in byte 1, sector and cylinder bits 8-9 in
        ; byte 2, cylinder bits 0-7 in byte 3, as AH=02h takes them in DH,
        ; CL and CH.
        mov     dh, [si + 1]
        mov     cl, [si + 2]
        mov     ch, [si + 3]
        mov     bx, LOADED
        mov     ax, 0x0201              ; read one sector
        int     0x13
.done:
        jnc     loaded
        dec     byte [tries]
        jz      read_failed
        xor     ah, ah                  ; reset the disk system, then again
        mov     dl, [drive]
        int     0x13
        jmp     read

loaded:
        cmp     word [SIGNATURE], 0xAA55
        jne     no_system
        mov     si, [entry]             ; DS:SI: the entry booted, DS = 0
        mov     dl, [drive]
        jmp     0:LOADED

bad_table:
        mov     si, msg_bad_table
        jmp     stop
two_active:
        mov     si, msg_two_active
        jmp     stop
no_active:
        mov     si, msg_no_active
        jmp     stop
read_failed:
        mov     si, msg_read_failed
        jmp     stop
no_system:
        mov     si, msg_no_system
stop:
        ; The message, then nothing more: the machine waits to be restarted.
        lodsb
        test    al, al
        jz      halt
        mov     ah, 0x0E
        mov     bx, 0x0007              ; page 0, light grey
        int     0x10
        jmp     stop
halt:
        sti
        hlt
        jmp     halt

msg_bad_table   db      "Partition table damaged", 13, 10, 0
msg_two_active  db      "Two partitions marked active", 13, 10, 0
msg_no_active   db      "No partition marked active", 13, 10, 0
msg_read_failed db      "Boot sector read error", 13, 10, 0
msg_no_system   db      "No boot sector on the partition", 13, 10, 0

code_end:

; The variables live in memory after the relocated sector, not in it, so
; that only code and messages count against the 440 bytes.
        absolute RELOCATED + 512
packet:                                 ; the disk address packet of AH=42h
packet_size     resb    1
packet_zero     resb    1
packet_count    resw    1
packet_offset   resw    1
packet_segment  resw    1
packet_lba      resd    2
drive           resb    1
use_lba         resb    1
tries           resb    1
                resb    1
entry           resw    1
