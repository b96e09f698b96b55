#!/bin/sh
# /init of the test guest: transmitter-cli on the kernel's own 8250 and ftdi_sio drivers. Each
# case runs on the second 16550 (ttyS1) and on the FTDI adapter (ttyUSB0), both wired by QEMU to
# a simulated transmitter on the host, and prints one line on the console:
#     CASE pass|FAIL NAME PORT MILLISECONDS [what it printed or what went wrong]
# Then transmitter-cli station runs on ttyS1 and four adapters named by /dev/serial/by-path,
# its journal on a virtual disk, while the host swaps the units, pulls and plugs an adapter, and
# cuts the power; its events go to the console as they come, for the host to judge.
# A line "@@ REQUEST PORT" asks scripts/uart-test.sh on the host for what only the host sees or
# does; its answer comes back as one line on the console.

/bin/busybox --install -s /bin
export PATH=/bin
mount -t devtmpfs devtmpfs /dev
exec </dev/console >/dev/console 2>&1
mount -t proc proc /proc
mount -t sysfs sysfs /sys
# The lock folder a Debian system boots with: terminal programs and transmitter-cli mark the
# ports they use there.
mkdir -p /run/lock
echo 1 >/proc/sys/kernel/printk # kernel messages would break into the case lines
# No modules.dep: in the order they depend on one another.
for module in usb-common usbcore xhci-hcd xhci-pci usbserial ftdi_sio virtio_ring virtio \
    virtio_pci_modern_dev virtio_pci_legacy_dev virtio_pci virtio_blk crc16 mbcache jbd2 \
    crc32c_generic ext4; do
    insmod /lib/modules/$module.ko || echo "insmod $module failed"
done
stty -echo # the host's answers would otherwise come back as lines of ours
# What this boot is for: main (every case, then a batch the power is cut under), cut (the last
# cut's journal checked, then another such batch), last (only the check).
mode=$(sed -n 's/.*uart_test=\([a-z]*\).*/\1/p' /proc/cmdline)
batch=$(sed -n 's/.*batch=\([a-z0-9]*\).*/\1/p' /proc/cmdline)
mkdir -p /mnt && mount -t ext4 /dev/vda /mnt || echo "the journal's disk did not mount"
journal=/mnt/journal.sqlite3

ask() { echo "@@ $*" && read -r answer; }
now() { uart-probe now; }
first_error() { grep -m1 '^transmitter-cli' /tmp/err; }
# Waits up to 10 s for CONDITION to hold.
wait_until() { i=0; while ! eval "$1" && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done; }

# Runs transmitter-cli: $rc, its output in /tmp/out and /tmp/err, the time it took in $ms.
run() {
    start=$(now)
    transmitter-cli "$@" </dev/null >/tmp/out 2>/tmp/err
    rc=$?
    ms=$(($(now) - start))
}

verdict() { # NAME PORT PROBLEM [NOTE]
    if [ -z "$3" ]; then echo "CASE pass $1 $2 $ms $4"; else echo "CASE FAIL $1 $2 $ms $3"; fi
}

# The bytes of a --trace on stderr, a direction mark wherever the direction changes: the form
# the host gives the simulated transmitter's trace in ("> AA AA 43 < 01 00 03").
frames() {
    awk '{ for (i = 1; i <= NF; i++) if ($i == "->" || $i == "<-") {
             if ($i != last) s = s ($i == "->" ? " >" : " <")
             last = $i
             for (j = i + 1; j <= NF && $j ~ /^[0-9A-F][0-9A-F]$/; j++) s = s " " $j
             break } }
         END { sub(/^ /, "", s); print s }' /tmp/err
}

# The command prints exactly WANT, and the bytes its trace shows are those the simulated
# transmitter traced, both ways, in order.
exchange_case() { # NAME PORT WANT ARGUMENTS...
    name=$1 port=$2 want=$3
    shift 3
    ask mark $port
    run --port $port --trace "$@"
    ask wire $port
    sent=$(frames)
    problem=
    if [ $rc != 0 ]; then
        problem="exit $rc: $(first_error)"
    elif [ "$(cat /tmp/out)" != "$want" ]; then
        problem="printed '$(tr '\n' '|' </tmp/out)'"
    elif [ -z "$answer" ] || [ "$sent" != "$answer" ]; then
        problem="traced '$sent', the transmitter saw '$answer'"
    fi
    verdict $name $port "$problem"
}

ports_case() { # NAME
    run ports
    problem=
    if ! ls /sys/class/tty | grep -q '^ttyS3$'; then
        problem="no legacy ttyS3 in /sys/class/tty: nothing to leave out"
    elif [ $rc != 0 ] || [ "$(cat /tmp/out)" != "$(printf 'ttyS0\nttyS1\nttyUSB0  (default)')" ]; then
        problem="exit $rc, printed '$(tr '\n' '|' </tmp/out)'"
    fi
    verdict $1 - "$problem" "$(tr '\n' ' ' </tmp/out)"
}

# `transmitter-cli ARGUMENTS` on PORT against a frozen transmitter, so that its command
# opening waits out the whole read time-out: returns once that opening holds the port. The
# command opening comes half a second after the preamble's, which lasts milliseconds.
holds() { ls -l /proc/$holder/fd 2>/dev/null | grep -q "/dev/$1\$"; }
hold() { # PORT ARGUMENTS...
    port=$1
    shift
    ask freeze $port
    transmitter-cli --port $port "$@" </dev/null >/tmp/held-out 2>/tmp/held-err &
    holder=$!
    sleep 0.45
    i=0
    while ! holds $port && [ $i -lt 100 ]; do sleep 0.02; i=$((i + 1)); done
}
release() { wait $holder; ask thaw $1; }

# A second transmitter-cli on a port the first one holds exits 4, sends nothing and leaves the
# first one's modem lines alone.
exclusive_case() { # PORT
    ask mark $1
    hold $1 version
    run --port $1 --trace version
    lines=$(uart-probe lines $holder $1)
    holds $1 || lost=" (the first one had let go)"
    release $1
    ask wire $1
    problem=
    if [ $rc != 4 ] || [ -n "$(frames)" ]; then
        problem="exit $rc, traced '$(frames)': $(first_error)"
    elif [ "$answer" != "> AA AA 43" ] && [ "$answer" != "> AA AA 43 < 01 00 03" ]; then
        problem="the transmitter saw '$answer'"
    elif [ "$lines" != "DTR on RTS off" ]; then
        problem="the first one's lines went to $lines"
    fi
    verdict exclusive $1 "$problem$lost" "$(first_error)"
    lost=
}

# While a command holds the port, the driver shows the line settings the command asked for and
# DTR on, RTS off; the host's end of the wire (set to 1200 baud, 2 stop bits before the command
# opened the port) shows their speed and stop bits.
line_settings_case() { # PORT
    hold $1 version
    start=$(now)
    ask line $1
    ms=$(($(now) - start))
    settings="driver $(uart-probe settings $holder $1), $(uart-probe lines $holder $1), host $answer"
    holds $1 || settings="$settings (the command had let go)"
    release $1
    ok="driver 9600 cs8 -parenb -cstopb -crtscts -ixon -ixoff, DTR on RTS off, host 9600 -cstopb"
    verdict line-settings $1 "$([ "$settings" = "$ok" ] || echo "$settings")" "$settings"
}

# The host pulls the FTDI adapter while the command waits for the reply: it ends within its
# time-out, exit 1 or 4, one error line. Plugged back, the adapter is ttyUSB0 again (no
# descriptor on the old one was left open) and works.
unplug_case() { # NAME ARGUMENTS...
    name=$1 problem=
    shift
    hold ttyUSB0 "$@"
    holds ttyUSB0 || problem="the command was not waiting when the adapter went"
    ask unplug
    start=$(now)
    i=0
    while kill -0 $holder 2>/dev/null && [ $i -lt 200 ]; do usleep 10000; i=$((i + 1)); done
    ms=$(($(now) - start))
    if kill -0 $holder 2>/dev/null; then
        problem="still running 2 s after the adapter went"
        kill -9 $holder
    fi
    wait $holder
    rc=$?
    ask thaw ttyUSB0
    error=$(grep -m1 '^transmitter-cli' /tmp/held-err)
    if [ -z "$problem" ] && { [ $rc != 1 ] && [ $rc != 4 ] || [ -z "$error" ]; }; then
        problem="exit $rc: '$(tr '\n' '|' </tmp/held-err)'"
    fi
    verdict $name ttyUSB0 "$problem" "exit $rc: $error"
    wait_until "[ ! -e /dev/ttyUSB0 ]"
    ask plug
    wait_until "[ -e /dev/ttyUSB0 ]"
    ports_case replug-ports
    exchange_case replug-version ttyUSB0 1.0.3 version
}

# /dev/serial/by-path as udev keeps it: a link per adapter, named after the USB port it is
# plugged in, gone as soon as the adapter goes (before its ttyUSB number can be given to another).
# Each change is shown to the host ("@links usb-0:2=ttyUSB1 ...").
by_path() {
    mkdir -p /dev/serial/by-path
    cd /dev/serial/by-path || return
    shown=
    while :; do
        now=
        for tty in /sys/class/tty/ttyUSB*; do
            link=$(readlink -f $tty/device 2>/dev/null | sed -n \
                's,.*/\([0-9a-f:.]*\)/usb[0-9]*/[^/]*/[0-9]*-\([0-9.]*\):\([0-9.]*\)/ttyUSB.*,pci-\1-usb-0:\2:\3-port0,p')
            [ -n "$link" ] || continue
            now="$now $link=${tty##*/}"
            [ "$(readlink $link)" = ../../${tty##*/} ] || ln -sfn ../../${tty##*/} $link
        done
        for link in *; do
            case "$now " in *" $link="*) ;; *) rm -f "$link" ;; esac
        done
        [ "$now" = "$shown" ] || echo "@links$(echo "$now" | sed 's/pci-[^ ]*-usb-\(0:[0-9]*\):[^=]*=/usb-\1=/g')"
        shown=$now
        usleep 200000
    done
}

# The station on ttyS1 and the adapters on USB ports 1 to 4 (the fifth is plugged, never listed)
# while the host swaps units, pulls and plugs adapters, or cuts the power: its events on the
# console. The journal's rows follow, one "ROW" line each, then the host judges.
station_batch() { # BATCH
    ask adapters
    wait_until "[ -e /dev/ttyUSB4 ]"
    [ -n "$links" ] || { by_path & links=$!; }
    slots=
    for usb in 1 2 3 4; do
        wait_until "[ -e /dev/serial/by-path/*usb-0:$usb:1.0-port0 ]"
        slots="$slots$(echo /dev/serial/by-path/*usb-0:$usb:1.0-port0),"
    done
    transmitter-cli station --ports ${slots}ttyS1 --sensor K --upper 300 --lower -50 \
        --output 4-20 --fault high --compensation on --journal $journal --batch $1 \
        --operator ci --json </dev/null 2>/tmp/station-err &
    station=$!
    ask station $1
    kill -INT $station
    wait $station
    grep -m1 . /tmp/station-err
    journal_rows
}

# Each unit: its slot, verdict, configuration as found and as left ("K 300 -50 4-20 high"),
# error. Also whether the journal opens and SQLite finds it sound, for after a power cut.
journal_rows() {
    transmitter-cli journal --journal $journal --json >/dev/null 2>/tmp/err
    echo "JOURNAL opens $? integrity $(uart-probe sql $journal 'PRAGMA integrity_check')"
    configuration="json_extract(%s, '\$.sensor') || ' ' || json_extract(%s, '\$.upper') || ' ' ||
        json_extract(%s, '\$.lower') || ' ' || json_extract(%s, '\$.output') || ' ' ||
        json_extract(%s, '\$.fault')"
    found=$(echo "$configuration" | sed 's/%s/as_found/g')
    left=$(echo "$configuration" | sed 's/%s/as_left/g')
    uart-probe sql $journal "SELECT 'ROW', batch, slot, id, ifnull(verdict, 'interrupted'),
        ifnull($found, '-'), ifnull($left, '-'), ifnull(error, '') FROM units ORDER BY started_at"
}

if [ "$mode" != main ]; then
    journal_rows
    ask check-cut
    [ "$mode" = last ] || station_batch $batch
    echo "@@ done"
    poweroff -f
fi

wait_until "[ -e /dev/ttyUSB0 ]" # the adapter comes once the USB bus has been scanned
ports_case ports
for port in ttyS1 ttyUSB0; do
    exchange_case version $port 1.0.3 version
    exchange_case write-verify $port \
        "$(printf 'wrote sensor K  upper 300  lower -50  output 4-20  fault high  compensation on\nverified')" \
        write --sensor K --upper 300 --lower -50 --output 4-20 --fault high --compensation on --verify
    exchange_case read $port "firmware 1.0.3  sensor K  upper 300  lower -50  output 4-20  fault high" read
    exchange_case cold-junction $port 23.4 cold-junction
    exchange_case unlock $port unlocked unlock
    line_settings_case $port
    exclusive_case $port
done
unplug_case unplug-read read
unplug_case unplug-watch cold-junction --watch 1
station_batch replug
ask check-station
station_batch $batch

echo "@@ done"
poweroff -f
