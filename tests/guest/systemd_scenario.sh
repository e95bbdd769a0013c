#!/bin/bash
# The systemd machine's test, run by systemd itself once the machine is up: installs the Debian
# package and runs the capture service as an administrator would, and reports each check to the
# host over ttyS2, which also carries the requests for what only the host can do (play the far
# ends, pull the adapter out and put it back).
stty -F /dev/ttyS2 raw -echo -ixon -ixoff
exec 3<>/dev/ttyS2
say() { echo "$*" >&3; }
ask() {
  say "ASK $*"
  read -r REPLY <&3
  REPLY=${REPLY#OK }
  # For bytes sent: the hash of all sent on that line so far, and of these alone.
  CUM=${REPLY%% *}
  THIS=${REPLY##* }
}
check() {  # name, then a condition's status: 0 passes
  if [ "$2" = 0 ]; then say "CHECK $1 PASS"; else say "CHECK $1 FAIL $3"; fi
}
within() {  # a command, then tenths of a second
  local n=0
  while [ $n -lt "$2" ]; do
    eval "$1" && return 0
    sleep 0.1
    n=$((n + 1))
  done
  return 1
}
# From standard input: sha256sum marks a file name with a backslash (an escaped instance's).
sha() { cat "$@" 2> /dev/null | sha256sum | cut -d' ' -f1; }
prop() { systemctl show -p "$1" --value "$2"; }
ANNOUNCE="Press CtrlC to break;"

say "READY"
if [ "$(cat /etc/zentavol-test-boot)" = first ]; then
  dpkg -i /root/zentavol.deb > /root/dpkg.log 2>&1
  check deb_installs $? "$(tail -3 /root/dpkg.log | tr '\n' '|')"
  mkdir -p /etc/zentavol
  echo 'ZENTAVOL_OPTIONS="-b 115200"' > /etc/zentavol/ttyS1.conf
  systemctl enable --now zentavol@ttyUSB0.service zentavol@ttyS1.service > /root/enable.log 2>&1
  within '[ "$(prop ActiveState zentavol@ttyS1)" = active ] &&
    [ "$(prop ActiveState zentavol@ttyUSB0)" = active ]' 50
  check units_enabled_and_active $? "$(cat /root/enable.log | tr '\n' '|')"
  S1=/var/lib/zentavol/ttyS1/zentavol.dat
  USB=/var/lib/zentavol/ttyUSB0/zentavol.dat
  within "journalctl -u zentavol@ttyS1 -o cat | grep -q -F '$ANNOUNCE'" 50
  within "journalctl -u zentavol@ttyUSB0 -o cat | grep -q -F '$ANNOUNCE'" 50
  sleep 0.5
  [ "$(stty -F /dev/ttyS1 speed)" = 115200 ]
  check conf_options_reach_the_line $? "speed $(stty -F /dev/ttyS1 speed)"

  ask senduart 3000 a
  within '[ "$(sha $S1)" = "$CUM" ]' 100
  check uart_bytes_in_its_file $? "size $(stat -c %s $S1 2>&1)"
  ask sendusb 3000 a
  within '[ "$(sha $USB)" = "$CUM" ]' 100
  check usb_bytes_in_its_file $? "size $(stat -c %s $USB 2>&1)"

  pid=$(prop MainPID zentavol@ttyUSB0)
  ask unplug
  within "journalctl -u zentavol@ttyUSB0 -o cat | grep -q -x 'error read COM'" 50
  sleep 1
  ask plug
  within "[ \$(journalctl -u zentavol@ttyUSB0 -o cat | grep -c -F '$ANNOUNCE') = 2 ]" 100
  check usb_replug_taken_back $? "$(journalctl -u zentavol@ttyUSB0 -o cat | tr '\n' '|')"
  [ "$(prop MainPID zentavol@ttyUSB0)" = "$pid" ] && [ "$(prop NRestarts zentavol@ttyUSB0)" = 0 ]
  check usb_replug_same_service_no_restart $? \
    "pid $pid now $(prop MainPID zentavol@ttyUSB0), restarts $(prop NRestarts zentavol@ttyUSB0)"
  sleep 0.5
  ask sendusb 2000 b
  within '[ "$(sha $USB)" = "$CUM" ]' 100
  check usb_capture_goes_on_after_replug $? "size $(stat -c %s $USB)"

  # Rotation as logrotate does it: rename, then SIGUSR1 to the service's main process.
  ask senduart 2000 b
  within '[ "$(sha $S1)" = "$CUM" ]' 100
  mv $S1 $S1.1
  systemctl kill --kill-whom=main --signal=USR1 zentavol@ttyS1
  sleep 0.5
  ask senduart 2000 c
  within '[ -e $S1 ] && [ "$(sha $S1.1 $S1)" = "$CUM" ] && [ "$(sha $S1)" = "$THIS" ]' 100
  check usr1_rotation_splits_with_nothing_lost $? \
    "old $(stat -c %s $S1.1) new $(stat -c %s $S1 2>&1)"
  [ "$(stat -c %s $S1)" = 2000 ]
  check usr1_new_file_holds_what_came_after $? "new $(stat -c %s $S1 2>&1)"

  journalctl -u zentavol@ttyS1 -o cat | grep -q -x \
    "result in /var/lib/zentavol/ttyS1/zentavol.dat   Press CtrlC to break;"
  check journal_has_the_messages $? "$(journalctl -u zentavol@ttyS1 -o cat | tr '\n' '|')"

  exposure=$(systemd-analyze security zentavol@ttyS1.service 2>/dev/null |
    sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p')
  say "NOTE systemd-analyze security: exposure $exposure"
  awk -v e="$exposure" 'BEGIN { exit !(e != "" && e <= 3.0) }'
  check security_exposure_at_most_3 $? "exposure '$exposure'"

  start=$(date +%s%N)
  systemctl stop zentavol@ttyS1
  took=$((($(date +%s%N) - start) / 1000000))
  [ "$took" -lt 2000 ] && [ "$(prop Result zentavol@ttyS1)" = success ]
  check stop_is_clean_within_2s $? "took ${took} ms, result $(prop Result zentavol@ttyS1)"

  # A stable name: the instance is the escaped by-id path, and so is its folder.
  byid=$(ls /dev/serial/by-id/ | head -1)
  instance=$(systemd-escape "serial/by-id/$byid")
  systemctl stop zentavol@ttyUSB0
  systemctl start "zentavol@$instance.service"
  within "journalctl -u 'zentavol@$instance' -o cat | grep -q -F '$ANNOUNCE'" 50
  sleep 0.5
  ask sendusb 1000 c
  within "[ \"\$(sha '/var/lib/zentavol/$instance/zentavol.dat')\" = \"\$THIS\" ]" 100
  check by_id_instance_captures_into_its_escaped_folder $? \
    "instance $instance: $(ls /var/lib/zentavol/ | tr '\n' ' '); $(stat -c %s \
    "/var/lib/zentavol/$instance/zentavol.dat" 2>&1) bytes;\
    $(journalctl -u "zentavol@$instance" -o cat | tr '\n' '|')"
  systemctl stop "zentavol@$instance.service"
else
  # Booted with the unit enabled and no adapter: no USB-serial device driver loaded yet.
  within '[ "$(prop ActiveState zentavol@ttyUSB0)" = active ]' 100
  ! lsmod | grep -q '^ftdi_sio' && [ ! -e /dev/ttyUSB0 ]
  check booted_without_the_adapter $? "$(lsmod | grep -c ftdi_sio) $(ls /dev | grep -c ttyUSB)"
  within "journalctl -u zentavol@ttyUSB0 -o cat | grep -q -x 'error open COM'" 100
  check unit_waits_for_its_port $? "$(journalctl -u zentavol@ttyUSB0 -o cat | tr '\n' '|')"
  pid=$(prop MainPID zentavol@ttyUSB0)
  ask plug
  within "journalctl -u zentavol@ttyUSB0 -o cat | grep -q -F '$ANNOUNCE'" 150
  sleep 0.5
  ask sendusb 3000 d
  within '[ "$(sha /var/lib/zentavol/ttyUSB0/zentavol.dat)" = "$THIS" ]' 100
  check late_adapter_captured_without_restart $? \
    "$(journalctl -u zentavol@ttyUSB0 -o cat | tr '\n' '|')"
  [ "$(prop MainPID zentavol@ttyUSB0)" = "$pid" ] && [ "$(prop NRestarts zentavol@ttyUSB0)" = 0 ]
  check late_adapter_same_service $? "restarts $(prop NRestarts zentavol@ttyUSB0)"
fi
say "DONE"
systemctl poweroff
