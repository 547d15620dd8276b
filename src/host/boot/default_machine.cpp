// The built-in default machine: the text of machines/default.reg, which a
// test holds equal to that file.
#include "host/host.h"

namespace host {

namespace {
const char kDefaultMachine[] = R"reg(REGEDIT4

; The built-in default machine: Windows 98 Second Edition with a fixed disk C:
; and a CD-ROM D: on the IDE controller, and one 64 MB PC Card ATA disk
; (490 cylinders x 8 heads x 32 sectors) at I/O ports 0x170 and 0x376 as
; drive E:, whose medium is pccard.img in the current folder.

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion]
"VersionNumber"="4.10.2222"
"SubVersionNumber"=" A "

; The ATA pass-through driver is installed, with one card. The card's drive
; letter is the one the device tree below gives its disk.
[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\VxD\MIRT]

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\VxD\MIRT\Cards\0170]
"Image"="pccard.img"
"ControlPort"=dword:00000376
"Cylinders"=dword:000001ea
"Heads"=dword:00000008
"SectorsPerTrack"=dword:00000020
"Model"="KESTREL CF 64MB"
"SerialNumber"="KS10012345"
"FirmwareRevision"="REV 2.05"

; The static hardware tree.
[HKEY_LOCAL_MACHINE\Enum\PCI\VEN_8086&DEV_7111\BUS_00&DEV_07&FUNC_01]
"Class"="hdc"

[HKEY_LOCAL_MACHINE\Enum\ESDI\GENERIC_IDE__DISK_TYPE47_\MF&CHILD0000&PCI&VEN_8086&DEV_7111&BUS_00&DEV_07&FUNC_0100]
"Class"="DiskDrive"
"CurrentDriveLetterAssignment"="C"

[HKEY_LOCAL_MACHINE\Enum\SCSI\GENERIC_CD-ROM_DRIVE_\MF&CHILD0001&PCI&VEN_8086&DEV_7111&BUS_00&DEV_07&FUNC_0101]
"Class"="CDROM"
"CurrentDriveLetterAssignment"="D"

[HKEY_LOCAL_MACHINE\Enum\PCMCIA\KESTREL_CF-1A2B\1]
"Class"="hdc"

[HKEY_LOCAL_MACHINE\Enum\ESDI\KESTREL_CF_CARD\MF&CHILD0000&PCMCIA&KESTREL_CF-1A2B&1]
"Class"="DiskDrive"
"CurrentDriveLetterAssignment"="E"

; The live device tree: one devnode per device, named by its number.
[HKEY_DYN_DATA\Config Manager\Enum\c1a0b000]
"HardWareKey"="PCI\\VEN_8086&DEV_7111\\BUS_00&DEV_07&FUNC_01"

[HKEY_DYN_DATA\Config Manager\Enum\c1a0b100]
"HardWareKey"="ESDI\\GENERIC_IDE__DISK_TYPE47_\\MF&CHILD0000&PCI&VEN_8086&DEV_7111&BUS_00&DEV_07&FUNC_0100"
"Parent"=hex:00,b0,a0,c1

[HKEY_DYN_DATA\Config Manager\Enum\c1a0b200]
"HardWareKey"="SCSI\\GENERIC_CD-ROM_DRIVE_\\MF&CHILD0001&PCI&VEN_8086&DEV_7111&BUS_00&DEV_07&FUNC_0101"
"Parent"=hex:00,b0,a0,c1

; The card, with its I/O resources: ports 0x170-0x177 and 0x376.
[HKEY_DYN_DATA\Config Manager\Enum\c1a0c000]
"HardWareKey"="PCMCIA\\KESTREL_CF-1A2B\\1"
"Allocation"=hex:40,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,\
  70,01,77,01,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,\
  00,00,00,00,00,00,00,00,00,00,00,00,76,03,76,03,00,00,00,00

[HKEY_DYN_DATA\Config Manager\Enum\c1a0c100]
"HardWareKey"="ESDI\\KESTREL_CF_CARD\\MF&CHILD0000&PCMCIA&KESTREL_CF-1A2B&1"
"Parent"=hex:00,c0,a0,c1
)reg";
}  // namespace

const char* DefaultMachineText() {
  return kDefaultMachine;
}

}  // namespace host
