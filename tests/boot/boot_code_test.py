#!/usr/bin/python3
"""The boot code run in a 16-bit x86 emulator, with the BIOS services it
calls answered by stubs: the master boot record's code on cards whose
tables and BIOSes differ, and the FAT boot sector's code after each BPB.

Usage: boot_code_test.py FOLDER, the build's boot-code folder (mbr.bin is
kMbrBootCode.bin and so on). Prints one line per case and 'N passed, N
failed'; exits 1 when any case failed.
"""
import os
import struct
import sys

try:
    from unicorn import Uc, UcError, UC_ARCH_X86, UC_MODE_16, UC_HOOK_CODE, UC_HOOK_INTR
    from unicorn.x86_const import (UC_X86_REG_AX, UC_X86_REG_BX, UC_X86_REG_CX, UC_X86_REG_DX,
                                   UC_X86_REG_SI, UC_X86_REG_DS, UC_X86_REG_ES, UC_X86_REG_CS,
                                   UC_X86_REG_IP, UC_X86_REG_SP, UC_X86_REG_SS,
                                   UC_X86_REG_EFLAGS)
except ImportError:  # tests/run-all installs it; a bare ctest may lack it
    if os.environ.get('DUNMORE_REQUIRE_TOOLS') == '1':
        print('FAIL: no python3-unicorn, and DUNMORE_REQUIRE_TOOLS=1 requires it')
        sys.exit(1)
    print('skipped: no python3-unicorn (apt-get install python3-unicorn)')
    sys.exit(77)

LOADED = 0x7C00
CARRY = 1
TABLE = 0x600 + 446  # where the relocated code's table lies


def entry(active, first, count, chs=(0, 1, 1), kind=0x06):
    c, h, s = chs
    raw = bytes([active, h, s | ((c >> 2) & 0xC0), c & 0xFF, kind, 0xFE, 0xFF, 0xFF])
    return raw + struct.pack('<II', first, count)


def mbr(code, entries):
    sector = bytearray(512)
    sector[:len(code)] = code
    for i, e in enumerate(entries):
        sector[446 + 16 * i:446 + 16 * (i + 1)] = e
    sector[510:512] = b'\x55\xaa'
    return bytes(sector)


def system_sector(marker, signature=True):
    sector = bytearray(512)
    sector[:len(marker)] = marker
    if signature:
        sector[510:512] = b'\x55\xaa'
    return bytes(sector)


class Pc:
    """A PC at the moment the BIOS jumps to 0:7C00, with a disk behind INT 13h."""

    def __init__(self, sector0, disk, extensions=True, failures=0, heads=16, sectors=63, key=0x1C0D):
        self.uc = Uc(UC_ARCH_X86, UC_MODE_16)
        self.uc.mem_map(0, 0x100000)
        self.uc.mem_write(LOADED, sector0)
        self.disk = disk  # {lba: 512 bytes}
        self.extensions = extensions
        self.failures = failures  # reads that fail before one succeeds (-1: all)
        self.geometry = (heads, sectors)
        self.key = key
        self.screen = ''
        self.calls = []  # (interrupt, AH, DL)
        self.reads = []  # the sectors asked for, by LBA
        self.ended = None  # 'jump', 'halt', 'int18'
        self.starts = 0
        self.uc.hook_add(UC_HOOK_INTR, self.interrupt)
        self.uc.hook_add(UC_HOOK_CODE, self.step)

    def reg(self, name):
        return self.uc.reg_read(name)

    def carry(self, on):
        flags = self.reg(UC_X86_REG_EFLAGS)
        self.uc.reg_write(UC_X86_REG_EFLAGS, flags | CARRY if on else flags & ~CARRY)

    def step(self, uc, address, size, _):
        if address == LOADED:
            self.starts += 1
            if self.starts == 2:
                self.ended = 'jump'
                uc.emu_stop()
        if uc.mem_read(address, 1) == b'\xf4':
            self.ended = 'halt'
            uc.emu_stop()

    def read(self, lba):
        self.reads.append(lba)
        if self.failures != 0:
            if self.failures > 0:
                self.failures -= 1
            return None
        return self.disk.get(lba, bytes(512))

    def interrupt(self, uc, number, _):
        ax = self.reg(UC_X86_REG_AX)
        ah, al = ax >> 8, ax & 0xFF
        dl = self.reg(UC_X86_REG_DX) & 0xFF
        self.calls.append((number, ah, dl))
        if number == 0x10 and ah == 0x0E:
            self.screen += chr(al)
        elif number == 0x16 and ah == 0:
            uc.reg_write(UC_X86_REG_AX, self.key)
        elif number == 0x18:
            self.ended = 'int18'
            uc.emu_stop()
        elif number == 0x13 and ah == 0x41:
            if self.extensions and self.reg(UC_X86_REG_BX) == 0x55AA:
                uc.reg_write(UC_X86_REG_BX, 0xAA55)
                uc.reg_write(UC_X86_REG_CX, 1)
                uc.reg_write(UC_X86_REG_AX, 0x3000)
                self.carry(False)
            else:
                uc.reg_write(UC_X86_REG_AX, 0x0100)
                self.carry(True)
        elif number == 0x13 and ah == 0x42 and self.extensions:
            at = self.reg(UC_X86_REG_DS) * 16 + self.reg(UC_X86_REG_SI)
            size, _zero, count, offset, segment, lba = struct.unpack('<BBHHHQ', uc.mem_read(at, 16))
            data = self.read(lba) if size >= 16 and count == 1 else None
            if data is None:
                uc.reg_write(UC_X86_REG_AX, 0x0400)
                self.carry(True)
            else:
                uc.mem_write(segment * 16 + offset, data)
                uc.reg_write(UC_X86_REG_AX, 0)
                self.carry(False)
        elif number == 0x13 and ah == 0x02:
            cx = self.reg(UC_X86_REG_CX)
            dh = self.reg(UC_X86_REG_DX) >> 8
            cylinder = (cx >> 8) | ((cx & 0xC0) << 2)
            sector = cx & 0x3F
            heads, sectors = self.geometry
            lba = (cylinder * heads + dh) * sectors + sector - 1
            data = self.read(lba) if al == 1 and sector >= 1 else None
            if data is None:
                uc.reg_write(UC_X86_REG_AX, 0x0400)
                self.carry(True)
            else:
                at = self.reg(UC_X86_REG_ES) * 16 + self.reg(UC_X86_REG_BX)
                uc.mem_write(at, data)
                uc.reg_write(UC_X86_REG_AX, 0x0001)
                self.carry(False)
        elif number == 0x13 and ah == 0x00:
            uc.reg_write(UC_X86_REG_AX, 0)
            self.carry(False)
        else:  # a service the code has no business calling
            self.ended = 'unexpected INT %02Xh AH=%02Xh' % (number, ah)
            uc.emu_stop()

    def run(self, dl):
        # As a BIOS leaves it: CS:IP 0:7C00, DL the drive, the rest whatever.
        for register, value in ((UC_X86_REG_DX, dl), (UC_X86_REG_CS, 0), (UC_X86_REG_DS, 0x40),
                                (UC_X86_REG_ES, 0x1234), (UC_X86_REG_SS, 0x30),
                                (UC_X86_REG_SP, 0x100), (UC_X86_REG_SI, 0x5555)):
            self.uc.reg_write(register, value)
        try:
            self.uc.emu_start(LOADED, 0xFFFFF, count=200000)
        except UcError as error:
            self.ended = 'fault: %s at %04X' % (error, self.reg(UC_X86_REG_IP))
        return self


def mbr_cases(code):
    marker = b'SYSTEM SECTOR'
    lba_disk = {2048: system_sector(marker)}
    chs_disk = {63: system_sector(marker)}
    one = [entry(0x80, 2048, 1000)]
    second = [entry(0, 63, 10), entry(0x80, 2048, 1000)]
    at_63 = [entry(0x80, 63, 1000, chs=(0, 1, 1))]
    # name, table, disk, BIOS (extensions, failures), DL given, expected end
    return [
        ('extensions: LBA read of entry 1', one, lba_disk, True, 0, 0x80, ('jump', 0, 2048)),
        ('extensions: the active entry is the second', second, lba_disk, True, 0, 0x80,
         ('jump', 1, 2048)),
        ('no extensions: CHS read (0,1,1) of 16 heads', at_63, chs_disk, False, 0, 0x80,
         ('jump', 0, 63)),
        ('DL 00h from the BIOS: booted as 80h', one, lba_disk, True, 0, 0x00, ('jump', 0, 2048)),
        ('DL 81h kept', one, lba_disk, True, 0, 0x81, ('jump', 0, 2048)),
        ('no active entry', [entry(0, 2048, 1000)], lba_disk, True, 0, 0x80,
         ('halt', 'No partition marked active')),
        ('two active entries', [entry(0x80, 63, 10), entry(0x80, 2048, 1000)], lba_disk, True, 0,
         0x80, ('halt', 'Two partitions marked active')),
        ('a boot flag neither 0 nor 80h', [entry(0x81, 2048, 1000)], lba_disk, True, 0, 0x80,
         ('halt', 'Partition table damaged')),
        ('a read error, then the read after a reset', one, lba_disk, True, 1, 0x80,
         ('jump', 0, 2048)),
        ('CHS: three read errors, then success', at_63, chs_disk, False, 3, 0x80, ('jump', 0, 63)),
        ('a read error every time', one, lba_disk, True, -1, 0x80,
         ('halt', 'Boot sector read error')),
        ('no 55 AA on the partition', one, {2048: system_sector(marker, signature=False)}, True, 0,
         0x80, ('halt', 'No boot sector on the partition')),
    ]


def check_mbr(code, case):
    name, table, disk, extensions, failures, dl, expected = case
    pc = Pc(mbr(code, table), disk, extensions=extensions, failures=failures).run(dl)
    problems = []
    drive = dl if dl >= 0x80 else 0x80
    disk_calls = [c for c in pc.calls if c[0] == 0x13]
    if any(c[2] != drive for c in disk_calls):
        problems.append('INT 13h called with another drive: %s' % disk_calls)
    if expected[0] == 'jump':
        _, index, lba = expected
        if pc.ended != 'jump':
            problems.append('ended by %s, screen %r' % (pc.ended, pc.screen))
        else:
            if pc.uc.mem_read(LOADED, 512) != disk[lba]:
                problems.append('0:7C00 does not hold sector %d' % lba)
            if pc.reg(UC_X86_REG_CS) != 0:
                problems.append('CS %04X' % pc.reg(UC_X86_REG_CS))
            if pc.reg(UC_X86_REG_DX) & 0xFF != drive:
                problems.append('DL %02X' % (pc.reg(UC_X86_REG_DX) & 0xFF))
            si = pc.reg(UC_X86_REG_DS) * 16 + pc.reg(UC_X86_REG_SI)
            if si != TABLE + 16 * index or pc.uc.mem_read(si, 16) != table[index]:
                problems.append('DS:SI %04X:%04X is not entry %d' %
                                (pc.reg(UC_X86_REG_DS), pc.reg(UC_X86_REG_SI), index + 1))
            if pc.screen:
                problems.append('said %r' % pc.screen)
        used = {c[1] for c in disk_calls} - {0x41, 0x00}
        if used != ({0x42} if extensions else {0x02}):
            problems.append('read with AH %s' % sorted(used))
        if failures > 0 and sum(1 for c in disk_calls if c[1] == 0) != failures:
            problems.append('%d resets for %d failures' %
                            (sum(1 for c in disk_calls if c[1] == 0), failures))
    else:
        if pc.ended != 'halt' or pc.screen.strip() != expected[1]:
            problems.append('ended by %s, screen %r' % (pc.ended, pc.screen))
        if failures < 0 and len(pc.reads) != 4:
            problems.append('%d reads before giving up' % len(pc.reads))
    return problems


def boot_sector(code, offset):
    sector = bytearray(512)
    sector[0:3] = bytes([0xEB, offset - 2, 0x90])
    sector[3:offset] = b'B' * (offset - 3)  # a BPB, whatever it says
    sector[offset:offset + len(code)] = code
    sector[510:512] = b'\x55\xaa'
    return bytes(sector)


def check_boot_sector(code, offset):
    pc = Pc(boot_sector(code, offset), {}).run(0x80)
    problems = []
    if pc.ended != 'int18':
        problems.append('ended by %s' % pc.ended)
    if 'holds no operating system' not in pc.screen or 'SYS' not in pc.screen:
        problems.append('said %r' % pc.screen)
    order = [c[0] for c in pc.calls if c[0] != 0x10]
    if order != [0x16, 0x18]:
        problems.append('INT 16h then 18h expected, got %s' % order)
    if any(c[0] == 0x13 for c in pc.calls):
        problems.append('touched the disk')
    return problems


def main():
    folder = sys.argv[1]
    with open(os.path.join(folder, 'kMbrBootCode.bin'), 'rb') as f:
        mbr_code = f.read()
    results = []
    for case in mbr_cases(mbr_code):
        results.append(('MBR: ' + case[0], check_mbr(mbr_code, case)))
    for name, offset in (('kFat16BootCode', 0x3E), ('kFat32BootCode', 0x5A)):
        with open(os.path.join(folder, name + '.bin'), 'rb') as f:
            results.append(('boot sector after the BPB at %02Xh' % offset,
                            check_boot_sector(f.read(), offset)))
    failed = 0
    for name, problems in results:
        print('%s: %s' % ('FAIL' if problems else 'ok', name))
        for problem in problems:
            print('    ' + problem)
        failed += bool(problems)
    print('%d passed, %d failed' % (len(results) - failed, failed))
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
