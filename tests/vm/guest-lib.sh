# Commands the host sends to the emulated PC (sourced by its /init; busybox
# sh). The program runs on the second serial port, whose keys the host types;
# its screen is the host's screen dump, read back here.

# start_dunmore [NAME=VALUE]... PROGRAM [ARGUMENT...]: the program (dunmore)
# in /work on /dev/ttyS1, its controlling terminal (it draws on /dev/tty),
# with the environment and the command line given; its exit code lands in
# /tmp/exit, and its pid in /tmp/pid (the shell that writes it becomes the
# program: setsid, env and dunmore each replace the one before).
start_dunmore() {
  rm -f /tmp/screen /tmp/exit /tmp/pid
  mkdir -p /work
  (
    cd /work &&
      sh -c 'echo $$ >/tmp/pid && exec "$@"' sh \
        setsid -c env TERM=xterm DUNMORE_SCREEN_DUMP=/tmp/screen "$@" \
        </dev/ttyS1 >/dev/ttyS1 2>&1
    echo $? >/tmp/exit.new && mv /tmp/exit.new /tmp/exit
  ) </dev/null >/dev/null 2>&1 &
}

# signal_dunmore SIGNAL: sends the signal to the program start_dunmore
# started, by its pid.
signal_dunmore() {
  kill -"$1" "$(cat /tmp/pid)"
}

# wait_screen SEEN SECONDS: the first screen dump numbered above SEEN,
# printed whole; "@@EXITED <code>" instead when the program ended without one.
wait_screen() {
  local seen=$1 tries=$(($2 * 20)) number
  while [ "$tries" -gt 0 ]; do
    if [ -f /tmp/screen ]; then
      number=$(sed -n '1s/^dump \([0-9]*\) .*/\1/p' /tmp/screen)
      if [ "${number:-0}" -gt "$seen" ]; then
        cat /tmp/screen
        return 0
      fi
    fi
    if [ -f /tmp/exit ]; then
      echo "@@EXITED $(cat /tmp/exit)"
      return 0
    fi
    usleep 50000
    tries=$((tries - 1))
  done
  echo "@@TIMEOUT"
}

# wait_exit SECONDS: the program's exit code, or "timeout".
wait_exit() {
  local tries=$(($1 * 20))
  while [ ! -f /tmp/exit ] && [ "$tries" -gt 0 ]; do
    usleep 50000
    tries=$((tries - 1))
  done
  cat /tmp/exit 2>/dev/null || echo timeout
}

# partition_size DISK: the sectors of DISK's first partition as the kernel
# lists it, or "none".
partition_size() {
  cat "/sys/block/$1/${1}1/size" 2>/dev/null || echo none
}

# vfat_round_trip PARTITION TEXT: mounts the partition as vfat, writes a file
# holding TEXT, unmounts, mounts again and prints the file read back.
vfat_round_trip() {
  mount -t vfat "$1" /mnt || return 1
  echo "$2" >/mnt/GUEST.TXT && sync || return 1
  umount /mnt || return 1
  mount -t vfat -o ro "$1" /mnt || return 1
  cat /mnt/GUEST.TXT
  umount /mnt
}

# disk_of MODEL_SUBSTRING: the sd disk whose vendor and model contain it.
disk_of() {
  local d
  for d in /sys/block/sd*; do
    if cat "$d/device/vendor" "$d/device/model" 2>/dev/null | tr '\n' ' ' | grep -q "$1"; then
      basename "$d"
      return 0
    fi
  done
  return 1
}

# usb_disk_of SECTORS: the USB disk (QEMU's usb-storage) of that size.
usb_disk_of() {
  local d
  for d in /sys/block/sd*; do
    if grep -q "QEMU HARDDISK" "$d/device/model" 2>/dev/null && [ "$(cat "$d/size")" = "$1" ]; then
      basename "$d"
      return 0
    fi
  done
  return 1
}

# wait_disk SECONDS: the name of the first sd disk once the kernel has it
# (a USB disk arrives after /init starts).
wait_disk() {
  local tries=$(($1 * 20)) d
  while [ "$tries" -gt 0 ]; do
    for d in /sys/block/sd*; do
      [ -e "$d/size" ] && { basename "$d"; return 0; }
    done
    usleep 50000
    tries=$((tries - 1))
  done
  echo "no disk" >&2
  return 1
}
