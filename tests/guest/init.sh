#!/bin/busybox sh
# The emulated machine's first process: runs the programs on the kernel's real serial drivers (a
# 16550 UART as ttyS1, an FTDI USB-serial adapter as ttyUSB0) and reports each check to the host
# over ttyS2, which also carries the requests for what only the host can do (play the far end,
# pull the adapter out and put it back).
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mkdir -p /tmp && mount -t tmpfs tmp /tmp

stty -F /dev/ttyS2 raw -echo -ixon -ixoff
exec 3<>/dev/ttyS2

ANNOUNCEMENT="result in zentavol.dat   Press CtrlC to break;"

say() { echo "$*" >&3; }
# Asks the host to act and waits for its answer, left in REPLY.
ask() {
  say "ASK $*"
  read -r REPLY <&3
  REPLY=${REPLY#OK }
}
check() {  # name, then a condition's status: 0 passes
  if [ "$2" = 0 ]; then say "CHECK $1 PASS"; else say "CHECK $1 FAIL $3"; fi
}
# Waits up to $2 tenths of a second for the command in $1 to succeed.
within() {
  n=0
  while [ $n -lt "$2" ]; do
    eval "$1" && return 0
    usleep 100000
    n=$((n + 1))
  done
  return 1
}
# How often a message stands in an output, which holds the echo's raw bytes around it.
# (grep stops a line at a zero byte, so those go first.)
times_in() { tr -d '\000' < "$1" 2>/dev/null | grep -a -o -F "$2" | wc -l; }
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
wakeups() {
  cat /proc/"$1"/task/*/status | awk '/ctxt_switches/ {n += $2} END {print n}'
}
# Starts the receiver on $1 in folder $2, in the background, with Ctrl+C as from a terminal.
start_receiver() {  # words of its command line, folder
  mkdir -p "$2"
  # shellcheck disable=SC2086 # the options are words
  (cd "$2" && exec probe exec-default zentavol $1 > out) &
  RECEIVER=$!
}

insmod_all() {
  for m in usb-common usbcore xhci-hcd xhci-pci usbserial ftdi_sio; do
    insmod "/lib/modules/$m.ko" || say "NOTE insmod $m failed"
  done
}

say "READY"

# ---- 16550 UART -------------------------------------------------------------------------------
chmod 666 /dev/ttyS1
start_receiver /dev/ttyS1 /tmp/uart
within 'grep -q -x -F "$ANNOUNCEMENT" /tmp/uart/out' 50
check uart_announces $? "$(cat /tmp/uart/out)"
usleep 300000
# Read from the UART itself, before anything else opens the port (an open raises both lines).
[ "$(probe mcr 0x2f8)" = "dtr=1 rts=1" ]
check uart_dtr_rts_on_while_held $? "$(probe mcr 0x2f8)"
settings=$(stty -F /dev/ttyS1 -a)
missing=""
for want in "speed 9600 baud" cs8 -parenb -cstopb ixon ixoff -ixany -icanon -isig -iexten \
  -echo -opost -icrnl -inlcr -igncr -istrip; do
  case " $(echo "$settings" | tr ';\n' '  ') " in
    *" $want "*) ;;
    *) missing="$missing $want" ;;
  esac
done
[ -z "$missing" ]
check uart_line_settings $? "missing:$missing"
[ "$(probe open-as 65534 /dev/ttyS1)" = "EBUSY" ]
check uart_exclusive_for_others $? "$(probe open-as 65534 /dev/ttyS1)"
(mkdir -p /tmp/second && cd /tmp/second && timeout -s KILL 5 zentavol /dev/ttyS1 > out
  echo $? > status)
[ "$(cat /tmp/second/out)" = "error open COM" ] && [ "$(cat /tmp/second/status)" = 1 ] &&
  [ ! -e /tmp/second/zentavol.dat ]
check uart_second_receiver_refused $? "$(cat /tmp/second/out) status $(cat /tmp/second/status)"

ask send1 5000
want_sha=$REPLY
within '[ "$(stat -c %s /tmp/uart/zentavol.dat)" -ge 5000 ]' 100
[ "$(sha256sum < /tmp/uart/zentavol.dat | cut -d' ' -f1)" = "$want_sha" ]
check uart_captures_5000_bytes $? "size $(stat -c %s /tmp/uart/zentavol.dat)"

kill -INT $RECEIVER
wait $RECEIVER
[ $? = 130 ]
check uart_ctrl_c_ends_receiver $? ""
[ "$(probe mcr 0x2f8)" = "dtr=0 rts=0" ]
check uart_dtr_rts_dropped_when_released $? "$(probe mcr 0x2f8)"
[ "$(probe open-as 65534 /dev/ttyS1)" = "ok" ]
check uart_free_for_others_after_ctrl_c $? "$(probe open-as 65534 /dev/ttyS1)"

# Line options, seen in the UART's own registers: 115200 bit/s is divisor 1 of its 1.8432 MHz
# clock; 7 data bits, even parity and 2 stop bits are line control 0x1e.
start_receiver "-b 115200 -d 7 -p even -s 2 /dev/ttyS1" /tmp/uart7e2
within 'grep -q -x -F "$ANNOUNCEMENT" /tmp/uart7e2/out' 50
usleep 300000
[ "$(probe lcr 0x2f8)" = "lcr=0x1e divisor=1" ]
check uart_options_in_the_registers $? "$(probe lcr 0x2f8)"
ask send7 3000
within '[ "$(stat -c %s /tmp/uart7e2/zentavol.dat)" -ge 3000 ]' 100
[ "$(sha256sum < /tmp/uart7e2/zentavol.dat | cut -d' ' -f1)" = "$REPLY" ]
check uart_captures_at_7e2_115200 $? "size $(stat -c %s /tmp/uart7e2/zentavol.dat)"
kill -INT $RECEIVER
wait $RECEIVER
# A rate the UART cannot make (its most is 115200): the 8250 driver keeps another, which the
# receiver reads back and refuses before capturing anything.
(mkdir -p /tmp/fast && cd /tmp/fast && timeout -s KILL 10 zentavol -b 250000 /dev/ttyS1 > out
  echo $? > status)
printf '%s\nerror configure COM\n' "$ANNOUNCEMENT" > /tmp/fast/want
cmp -s /tmp/fast/out /tmp/fast/want && [ "$(cat /tmp/fast/status)" = 1 ] &&
  [ ! -s /tmp/fast/zentavol.dat ]
check uart_rate_it_cannot_make_is_refused $? \
  "status $(cat /tmp/fast/status): $(tr '\n' '|' < /tmp/fast/out)"
say "NOTE 8250 answered -b 250000 with: $(stty -F /dev/ttyS1 speed)"
stty -F /dev/ttyS1 9600 cs8 -parenb -cstopb

# The sender, held by an XOFF from the far end after its first record, released 2.5 s later.
printf 'rec1\nrec2\nrec3\nrec4\nrec5\nrec6\n' > /tmp/records
ask hold1 2500
(cd /tmp && zentavol-send /dev/ttyS1 /tmp/records > send.out; echo $? > send.status)
errors=$(times_in /tmp/send.out "write comm error")
[ "$(cat /tmp/send.status)" = 1 ] && [ "$errors" -ge 1 ] && [ "$errors" -le 4 ]
check uart_sender_reports_held_records $? "status $(cat /tmp/send.status): $(cat /tmp/send.out)"
# The host checks what reached the far end against the records reported as failed.
ask arrived1 "$errors"

# ---- USB-serial adapter -----------------------------------------------------------------------
insmod_all
within '[ -e /dev/ttyUSB0 ]' 100
check usb_adapter_appears $? "$(ls /dev | grep tty | tr '\n' ' ')"
start_receiver /dev/ttyUSB0 /tmp/usb
within 'grep -q -x -F "$ANNOUNCEMENT" /tmp/usb/out' 50
usleep 300000
ask sendusb 3000 first
within '[ "$(stat -c %s /tmp/usb/zentavol.dat)" -ge 3000 ]' 100
[ "$(sha256sum < /tmp/usb/zentavol.dat | cut -d' ' -f1)" = "$REPLY" ]
check usb_captures_before_the_pull $? "size $(stat -c %s /tmp/usb/zentavol.dat)"

ask unplug
within '[ "$(times_in /tmp/usb/out "error read COM")" = 1 ]' 50
check usb_pull_is_said $? "$(cat /tmp/usb/out)"
ticks=$(cpu_ticks $RECEIVER)
woke=$(wakeups $RECEIVER)
sleep 3
ticks=$(($(cpu_ticks $RECEIVER) - ticks))
woke=$(($(wakeups $RECEIVER) - woke))
[ "$ticks" -le 10 ] && [ "$woke" -le 15 ]
check usb_no_busy_loop_while_pulled $? "ticks $ticks wakeups $woke"
[ "$(times_in /tmp/usb/out "error read COM")" = 1 ] && kill -0 $RECEIVER
check usb_pull_said_once $? "$(cat /tmp/usb/out)"

ask plug
within '[ "$(times_in /tmp/usb/out "$ANNOUNCEMENT")" = 2 ]' 100
check usb_taken_back_and_announced_again $? "$(cat /tmp/usb/out)"
[ -e /dev/ttyUSB0 ] && [ ! -e /dev/ttyUSB1 ]
check usb_comes_back_under_its_old_name $? "$(ls /dev | grep ttyUSB | tr '\n' ' ')"
usleep 300000
ask sendusb 2000 second
within '[ "$(stat -c %s /tmp/usb/zentavol.dat)" -ge 5000 ]' 100
[ "$(sha256sum < /tmp/usb/zentavol.dat | cut -d' ' -f1)" = "$REPLY" ]
check usb_capture_is_exactly_before_and_after $? "size $(stat -c %s /tmp/usb/zentavol.dat)"
kill -INT $RECEIVER
wait $RECEIVER

# The listing on real drivers: the UARTs that exist and the adapter, not the 8250 driver's spare
# ttyS nodes.
zentavol --list > /tmp/list
grep -q '^/dev/ttyS1  ' /tmp/list && grep -q -x '/dev/ttyUSB0  ftdi_sio' /tmp/list &&
  ! grep -q '^/dev/ttyS5 ' /tmp/list
check list_shows_the_real_ports $? "$(tr '\n' '|' < /tmp/list)"

# The sender with the adapter pulled out after its first records.
within '[ -e /dev/ttyUSB0 ]' 50
ask unplug-later 1500
(cd /tmp && zentavol-send /dev/ttyUSB0 /tmp/records > usend.out; echo $? > usend.status)
errors=$(times_in /tmp/usend.out "write comm error")
[ "$(cat /tmp/usend.status)" = 1 ] && [ "$errors" -ge 3 ] && [ "$errors" -le 5 ]
check usb_sender_reports_what_it_could_not_send $? \
  "status $(cat /tmp/usend.status): $(tr '\n' '|' < /tmp/usend.out)"

say "DONE"
sync
poweroff -f
