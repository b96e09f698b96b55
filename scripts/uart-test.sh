#!/usr/bin/env bash
# make test-uart: transmitter-cli on the Linux kernel's real serial drivers, with no hardware.
# A QEMU guest (no KVM needed) boots Debian's kernel from an initramfs holding busybox, the USB
# serial, virtio disk and ext4 modules, a static transmitter-cli and the cases
# (tests/uart/guest-init.sh). Its second 16550 (ttyS1, driver 8250) and its FTDI adapters
# (ftdi0 to ftdi5 on USB ports 1 to 6, driver ftdi_sio) are each wired to a transmitter-sim on a
# pseudo-terminal here. The guest prints one line per case on its console and asks this script
# for what only the host sees or does (the simulators' traces, the line settings on the host's
# end of the wire, freezing a simulator, pulling and plugging adapters through the QEMU monitor).
# For the commissioning station this script also swaps the simulated units, and judges the
# station's events and journal itself; the journal lives on a virtual disk whose power is cut
# (QEMU killed) five times, each followed by a boot that checks it. Everything lives in
# build-uart/.
set -euo pipefail
cd "$(dirname "$0")/.."
out=$PWD/build-uart
mkdir -p "$out"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

# Debian's generic kernel (the cloud flavour has no USB), downloaded and unpacked, not installed.
kernel_package() {
    apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-[0-9]/ { print $2; exit }'
}
package=$(kernel_package)
[ -n "$package" ] || { $sudo apt-get update -qq && package=$(kernel_package); }
kernel=$out/${package:?no kernel package found for linux-image-amd64}
modules="usb-common usbcore xhci-hcd xhci-pci usbserial ftdi_sio virtio_ring virtio
    virtio_pci_modern_dev virtio_pci_legacy_dev virtio_pci virtio_blk crc16 mbcache jbd2
    crc32c_generic ext4"
if [ ! -f "$kernel/modules/ext4.ko" ]; then
    echo "Fetching $package"
    rm -rf "$out/download" "$kernel.part" && mkdir -p "$out/download" "$kernel.part"
    (cd "$out/download" && apt-get download -q "$package" 2>&1 | grep -v '^W: Download is performed unsandboxed' || true)
    patterns=('./boot/vmlinuz-*')
    for module in $modules; do patterns+=("*/$module.ko*"); done
    dpkg-deb --fsys-tarfile "$out"/download/"$package"_*.deb |
        tar -x -C "$kernel.part" --wildcards "${patterns[@]}"
    find "$kernel.part" -name '*.ko.xz' -exec xz -d {} +
    mkdir -p "$kernel.part/modules"
    find "$kernel.part/lib" -name '*.ko' -exec mv {} "$kernel.part/modules/" \;
    mv "$kernel.part"/boot/vmlinuz-* "$kernel.part/vmlinuz"
    rm -rf "$kernel.part/boot" "$kernel.part/lib" "$out/download" "$kernel"
    mv "$kernel.part" "$kernel"
fi

# transmitter-cli statically linked, for a guest without a C library, SQLite included from
# Debian's static library; the simulator beside it. uart-probe reads the journal with it too.
# No central journal there: libpq would bring its TLS and Kerberos libraries along; no PDFs,
# as Debian has no static libharu; libcrypto (the profile's hash) from its static library and
# cpp-httplib compiled in from its source package, as the Windows builds do.
httplib=$(./scripts/debian-source.sh cpp-httplib build-httplib)
cmake -S . -B "$out/cli" -DCONFIGURATOR_WITH_QT=OFF -DCONFIGURATOR_TESTS=OFF \
    -DCONFIGURATOR_WITH_CENTRAL=OFF -DCONFIGURATOR_WITH_PDF=OFF -DOPENSSL_USE_STATIC_LIBS=ON \
    -DCONFIGURATOR_HTTPLIB_DIR="$httplib" \
    -DCMAKE_EXE_LINKER_FLAGS=-static -DCMAKE_BUILD_TYPE=Release \
    -DSQLite3_LIBRARY="$(gcc -print-file-name=libsqlite3.a)" \
    -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" ${CMAKE_FLAGS:-} >"$out/cmake.log"
cmake --build "$out/cli" -j "${JOBS:-2}" --target transmitter-cli transmitter-sim >>"$out/cmake.log" ||
    { tail -30 "$out/cmake.log"; exit 1; }
rm -f "$out/uart-probe"
g++ -std=c++20 -O2 -Wall -Wextra -Werror -static tests/uart/uart_probe.cpp -o "$out/uart-probe" \
    -lsqlite3 -lm 2>&1 | grep -v -e 'in function .unixDlOpen' -e "Using 'dlopen'" || true
[ -x "$out/uart-probe" ]

# The initramfs: busybox, the modules, the programs and the cases as /init.
image=$out/image
rm -rf "$image" && mkdir -p "$image"/{bin,dev,proc,sys,tmp,lib/modules}
cp /bin/busybox "$out/cli/cli/transmitter-cli" "$out/uart-probe" "$image/bin/"
for module in $modules; do cp "$kernel/modules/$module.ko" "$image/lib/modules/"; done
ln -s busybox "$image/bin/sh"
install -m 755 tests/uart/guest-init.sh "$image/init"
(cd "$image" && find . | busybox cpio -o -H newc 2>/dev/null) >"$out/initramfs.cpio"

# The journal's disk, blank: ext4 on a raw image, which QEMU writes through at every flush.
rm -f "$out/journal.img" && truncate -s 64M "$out/journal.img"
PATH=$PATH:/usr/sbin:/sbin mkfs.ext4 -q -F "$out/journal.img"

# The simulated transmitters, by QEMU's name of the wire each is on: ttyS1, and ftdi0 to ftdi5 for
# the adapters on USB ports 1 to 6. Each reads "out", "in" and "config ..." from a pipe of its
# own: a unit taken out of its fixture, another put in. New ones at every boot, the last boot's
# traces kept as sim-NAME.last.trace.
sims="ttyS1 ftdi0 ftdi1 ftdi2 ftdi3 ftdi4 ftdi5"
declare -A sim_pid sim_trace sim_pty sim_in mark last_mark
guest_pid=""
cleanup() {
    for sim in "${!sim_pid[@]}"; do kill -CONT "${sim_pid[$sim]}" 2>/dev/null || true; done
    for pid in "${sim_pid[@]}" $guest_pid; do kill "$pid" 2>/dev/null || true; done
}
trap cleanup EXIT
start_sims() {
    for sim in $sims; do
        if [ -n "${sim_pid[$sim]:-}" ]; then
            kill "${sim_pid[$sim]}" && wait "${sim_pid[$sim]}" 2>/dev/null || true
            mv "${sim_trace[$sim]}" "$out/sim-$sim.last.trace"
            last_mark[$sim]=${mark[$sim]:-0}
        fi
        sim_trace[$sim]=$out/sim-$sim.trace
        [ -p "$out/sim-$sim.in" ] || mkfifo "$out/sim-$sim.in"
        [ -n "${sim_in[$sim]:-}" ] || exec {sim_in[$sim]}<>"$out/sim-$sim.in"
        "$out/cli/sim/transmitter-sim" <"$out/sim-$sim.in" >"${sim_trace[$sim]}" &
        sim_pid[$sim]=$!
        for _ in $(seq 50); do
            sim_pty[$sim]=$(sed -n 's/^Port: //p' "${sim_trace[$sim]}")
            [ -n "${sim_pty[$sim]}" ] && break
            sleep 0.1
        done
    done
}
tell() { echo "$2" >&"${sim_in[$1]}"; } # SIM COMMAND

# The QEMU monitor (QMP): sends a command and reads up to its result, noting on the way which
# adapters the guest has let go of.
rm -f "$out"/qmp.{in,out} && mkfifo "$out/qmp.in" "$out/qmp.out"
exec {qmp_in}<>"$out/qmp.in" {qmp_out}<>"$out/qmp.out"
: >"$out/qmp.log"
declare -A adapter # ftdiN: in, going (device_del sent), gone
qmp() { # COMMAND ARGUMENTS-JSON
    echo "{\"execute\":\"$1\",\"arguments\":$2}" >&"$qmp_in"
    qmp_until '"return"|"error"'
}
qmp_until() { # PATTERN
    local reply
    while IFS= read -r -t 10 -u "$qmp_out" reply; do
        echo "$reply" >>"$out/qmp.log"
        [[ $reply =~ DEVICE_DELETED.*\"device\":\ *\"(ftdi[0-9])\" ]] && adapter[${BASH_REMATCH[1]}]=gone
        [[ $reply =~ $1 ]] && return 0
    done
    return 1
}
unplug() { # ADAPTER
    adapter[$1]=going
    qmp device_del "{\"id\":\"$1\"}"
}
# QEMU lets go of an adapter's wire only once the guest has seen it go.
plug() { # ADAPTER
    [ "${adapter[$1]:-}" != going ] || qmp_until "DEVICE_DELETED.*\"$1\""
    qmp device_add "{\"driver\":\"usb-serial\",\"id\":\"$1\",\"bus\":\"xhci.0\",\"port\":\"$((${1#ftdi} + 1))\",\"chardev\":\"$1\"}" &&
        adapter[$1]=in
}

# One boot: MODE and BATCH go to the guest (see guest-init.sh). The console is read through
# copies of the coprocess's descriptors, which outlive it when its power is cut.
exec {terminal}>&1
boot() { # MODE BATCH
    start_sims
    local wires=()
    for n in 0 1 2 3 4 5; do wires+=(-chardev serial,id=ftdi$n,path="${sim_pty[ftdi$n]}"); done
    coproc GUEST {
        exec qemu-system-x86_64 -machine pc,accel=tcg -m 256 -nodefaults -display none -no-reboot \
            -kernel "$kernel/vmlinuz" -initrd "$out/initramfs.cpio" \
            -append "console=ttyS0 quiet loglevel=1 panic=-1 uart_test=$1 batch=$2" \
            -serial stdio -serial "${sim_pty[ttyS1]}" "${wires[@]}" \
            -device qemu-xhci,id=xhci,p2=8,p3=8 \
            -device usb-serial,id=ftdi0,bus=xhci.0,port=1,chardev=ftdi0 \
            -drive file="$out/journal.img",if=virtio,format=raw,cache=writeback \
            -chardev pipe,id=qmp,path="$out/qmp" -mon chardev=qmp,mode=control \
            2>>"$out/qemu.log"
    }
    guest_pid=$GUEST_PID
    exec {console}<&"${GUEST[0]}" {answers}>&"${GUEST[1]}"
    adapter=([ftdi0]=in)
    qmp qmp_capabilities '{}' || { echo "QEMU did not start:"; cat "$out/qemu.log"; exit 1; }
}

report() { # RESULT NAME PORT MILLISECONDS [NOTE]
    printf '%-6s %-16s %-8s %5s ms  %s\n' "$1" "$2" "$3" "$4" "${5:-}" >&"$terminal"
    if [ "$1" = pass ]; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
}
now_ms() { echo $((${EPOCHREALTIME/./} / 1000)); }

# The commissioning station. The simulated units are given these configurations in turn, each
# another unit; the station writes the last one.
configurations=(
    "44 08 00 C8 00 14 01 00 00 00 00 01 00 01" # J 200 20 0-20 low
    "44 06 01 F4 80 64 01 00 00 00 00 00 01 00" # T 400 -100 4-20 high
    "44 01 04 1A 80 C8 01 00 00 00 00 01 01 00" # PT100 850 -200 0-20 high
    "44 02 06 40 00 00 01 00 00 00 00 00 00 01" # S 1600 0 4-20 low
    "44 04 03 E8 00 32 01 00 00 00 00 00 01 00" # N 1000 50 4-20 high
)
wanted_frame="44 03 01 5E 80 32 01 00 00 00 00 00 01 00"
wanted="K 300 -50 4-20 high"
next_configuration=0
new_unit() { # SIM
    tell "$1" "config ${configurations[next_configuration++ % ${#configurations[@]}]}"
}
slot_sims="ttyS1 ftdi0 ftdi1 ftdi2 ftdi3"
sim_of() { # SLOT: the simulator on the slot's wire
    if [[ $1 =~ usb-0:([0-9]+): ]]; then echo "ftdi$((BASH_REMATCH[1] - 1))"; else echo "$1"; fi
}

# The station's events as they reach the console: every unit that has ended is taken out and,
# once its slot probes for the next, another is put in. Until each slot has had 3 units for
# the batch "replug", with ftdi1 pulled under its second unit's write, another adapter (ftdi5)
# plugged on USB port 6 once the guest has let go of ftdi1's, and ftdi1 plugged back on its own
# port; for any other batch (a power cut), until the console ends.
station_events() { # BATCH
    declare -gA units=() started=() swapping=() answered=() t=()
    declare -g shown="" replug=0 links=""
    local line now event slot sim state step verdict id
    : >"$out/shown-$1"
    while IFS= read -r -t 60 -u "$console" line; do
        line=${line%$'\r'}
        echo "$line" >>"$out/console.log"
        now=$(now_ms)
        [[ $line != @links* ]] || links=$line
        # Once the pulled adapter's link is gone its number may go to the newcomer; once the
        # newcomer has it, the pulled one comes back.
        if [ $replug = 2 ] && [[ $links != *usb-0:2=* ]]; then
            plug ftdi5 >/dev/null && replug=3
        elif [ $replug = 3 ] && [[ $links =~ usb-0:6=(ttyUSB[0-9]+) ]]; then
            t[newcomer]=${BASH_REMATCH[1]}
            plug ftdi1 >/dev/null && t[add]=$(now_ms) && replug=4
        elif [ $replug = 5 ] && [[ $links =~ usb-0:2=(ttyUSB[0-9]+) ]]; then
            t[renamed]=${BASH_REMATCH[1]}
        fi
        [[ $line == \{* ]] && [[ $line =~ \"event\":\"([a-z ]*)\" ]] || continue
        event=${BASH_REMATCH[1]}
        [[ $line =~ \"slot\":\"([^\"]*)\" ]] || continue
        slot=${BASH_REMATCH[1]}
        sim=$(sim_of "$slot")
        [[ $line =~ \"state\":\"([a-z]*)\" ]] && state=${BASH_REMATCH[1]} || state=""
        [[ $line =~ \"step\":\"([a-z ]*)\" ]] && step=${BASH_REMATCH[1]} || step=""
        if [ $replug = 4 ] && [ "$sim" = ftdi1 ] && [ "$state" != absent ]; then
            t[probing]=$now && replug=5
        fi
        case $event in
        "unit started") started[$sim]=$now ;;
        "unit ended")
            [[ $line =~ \"verdict\":\"([a-z]*)\" ]] && verdict=${BASH_REMATCH[1]}
            [[ $line =~ \"id\":\"([^\"]*)\" ]] && id=${BASH_REMATCH[1]}
            units[$sim]=$((${units[$sim]:-0} + 1))
            if [ "$verdict" = pass ]; then
                answered[$sim]="${answered[$sim]:-} $((now - ${started[$sim]:-now}))"
                echo "$id" >>"$out/shown-$1"
            fi
            if [ "$1" = replug ] && [ "$sim" = ftdi1 ] && [ $replug = 1 ]; then
                t[failed]=$now t[error]=$(sed -n 's/.*"error":"\([^"]*\)".*/\1/p' <<<"$line")
                replug=2
            elif [ "$1" != replug ] || [ "${units[$sim]}" -lt 3 ]; then
                tell "$sim" out && swapping[$sim]=yes
            fi ;;
        slot)
            if [ "$state" = probing ] && [ -n "${swapping[$sim]:-}" ]; then
                new_unit "$sim" && tell "$sim" in && swapping[$sim]=""
            fi
            if [ "$1" = replug ] && [ "$sim" = ftdi1 ] && [ "${units[$sim]:-0}" = 1 ] &&
                [ "$step" = write ] && [ $replug = 0 ]; then
                # Halfway through the unlock preamble's wait, the write holding the port.
                sleep 0.25 && unplug ftdi1 >/dev/null && t[del]=$(now_ms) && replug=1
            fi ;;
        esac
        if [ "$1" = replug ] && [ $replug = 5 ]; then
            local done=yes
            for sim in $slot_sims; do [ "${units[$sim]:-0}" -ge 3 ] || done=""; done
            [ -z "$done" ] || return 0
        fi
    done
    [ "$1" != replug ] # the power cut ends the console
}

# What SIM received and sent since the station began: "R K 300 -50 4-20 high" for each
# configuration it sent, decoded here on the device's terms, and "W 44 ..." for each frame it
# was given to keep.
trace_events() { # SIM TRACE FIRST-LINE
    tail -n +"$3" "$2" | awk '
        BEGIN { split("WRe5-26 PT100 S K N PT1000 T Cu50 J", sensor, " ")
                split("4-20 0-20", output, " "); split("low high", fault, " ") }
        function digit(i, at) { return index("0123456789ABCDEF", substr($(5 + i), at, 1)) - 1 }
        function byte(i) { return digit(i, 1) * 16 + digit(i, 2) }
        $2 == "in:" && $3 == "42" && $4 == "out:" && NF >= 18 {
            upper = byte(2) % 16 * 256 + byte(3); lower = byte(4) % 16 * 256 + byte(5)
            if (byte(4) >= 128) { upper -= lower; lower = -lower }
            print "R " sensor[byte(1) + 1], upper, lower, output[byte(11) + 1], fault[byte(12) + 1] }
        $2 == "in:" && $3 == "44" { s = "W"; for (i = 3; i <= 16; i++) s = s " " $i; print s }'
}
# The journal's rows of SIM's slot in BATCH, oldest first: "verdict|as found|as left".
rows_of() { # SIM BATCH
    awk -F'|' -v batch="$2" -v sim="$1" '$1 == "ROW" && $2 == batch {
        slot = ($3 ~ /usb-0:[0-9]+:/) ? "ftdi" (substr($3, index($3, "usb-0:") + 6) - 1) : $3
        if (slot == sim) print $5 "|" $6 "|" $7 }' "$out/rows"
}
# The journal's rows of SIM's slot in BATCH against the simulator's trace: each row's as-found
# is the next configuration the unit sent, its as-left the one sent after the station's frame.
# A row without them (a unit interrupted) is the slot's last; with LEFT-OVER, reads after the
# last row are let be.
rows_match() { # SIM BATCH TRACE FIRST-LINE [LEFT-OVER]
    local seen verdict found left written i=0
    mapfile -t seen < <(trace_events "$1" "$3" "$4")
    while IFS='|' read -r verdict found left; do
        [ "$found" != - ] || continue
        while [[ ${seen[i]:-} == W* ]]; do i=$((i + 1)); done
        [ "${seen[i]:-}" = "R $found" ] || { echo "$1: as found $found, sent ${seen[i]:-nothing}; " && return; }
        i=$((i + 1))
        [ "$left" != - ] || continue
        written=""
        while [[ ${seen[i]:-} == W* ]]; do written=${seen[i]#W } && i=$((i + 1)); done
        [ "$written" = "$wanted_frame" ] || { echo "$1: the unit was given '$written'; " && return; }
        [ "${seen[i]:-}" = "R $left" ] || { echo "$1: as left $left, sent ${seen[i]:-nothing}; " && return; }
        i=$((i + 1))
    done < <(rows_of "$1" "$2")
    [ -n "${5:-}" ] || ! printf '%s\n' "${seen[@]:i}" | grep -q '^R' ||
        echo "$1: a configuration read is not in the journal; "
}
range() { # MILLISECONDS...: "min-max ms"
    tr ' ' '\n' <<<"$*" | sort -n | sed -n '1h; ${x; G; s/\n/-/; s/$/ ms/; p}'
}
received_nothing() { ! grep -q ' in: ' "${sim_trace[$1]}"; } # SIM

# The cases of the batch "replug", judged once its journal rows are in.
check_station() {
    local sim problem others drive all
    for drive in ttyS1 ftdi; do
        problem="" all=""
        for sim in $slot_sims; do
            [[ $sim == $drive* ]] || continue
            problem=$problem$(rows_match "$sim" replug "${sim_trace[$sim]}" $((mark[$sim] + 1)))
            [ "$(rows_of "$sim" replug | wc -l)" = 3 ] ||
                problem="$problem $sim: not 3 rows"
            all="$all ${answered[$sim]}"
        done
        [ -n "$problem" ] || [ "$(grep -c "^ROW|replug|.*|pass|" "$out/rows")" = 14 ] ||
            problem="not 14 units passed"
        report "$([ -z "$problem" ] && echo pass || echo FAIL)" station-units \
            "$([ $drive = ftdi ] && echo by-path || echo ttyS1)" "$(range $all | cut -d- -f2 | tr -dc 0-9)" \
            "${problem:-3 units a slot, found/left as traced; answer to verdict $(range $all)}"
    done
    problem=""
    received_nothing ftdi4 || problem="the unlisted adapter ftdi4 received bytes"
    received_nothing ftdi5 || problem="$problem the newcomer ftdi5 received bytes"
    report "$([ -z "$problem" ] && echo pass || echo FAIL)" station-unlisted ttyUSB4 0 \
        "${problem:-the unlisted adapter and the newcomer received nothing}"
    # The other adapters' units took their usual time while ftdi1 went and came: none a
    # quarter slower than the fastest.
    others=$(range ${answered[ftdi0]} ${answered[ftdi2]} ${answered[ftdi3]})
    problem=""
    others=${others% ms}
    [ $((${others#*-} * 4)) -le $((${others%-*} * 5)) ] ||
        problem="the other adapters' units took $others ms"
    [[ ${t[error]:-} == *"port went away"* ]] || problem="the pulled unit ended with '${t[error]:-}';"
    [ "${t[newcomer]:-}" = ttyUSB1 ] || problem="$problem the newcomer is ${t[newcomer]:-absent}, not ttyUSB1"
    [ -n "${t[renamed]:-}" ] && [ "${t[renamed]}" != ttyUSB1 ] || problem="$problem ftdi1 came back as ${t[renamed]:-nothing}"
    [ $((t[probing] - t[add])) -le 3000 ] || problem="$problem probing again only after $((t[probing] - t[add])) ms"
    [ "$(rows_of ftdi1 replug | cut -d'|' -f1 | tr '\n' ' ')" = "pass fail pass " ] ||
        problem="$problem ftdi1's units were not pass, fail, pass"
    report "$([ -z "$problem" ] && echo pass || echo FAIL)" station-replug by-path $((t[failed] - t[del])) \
        "$problem${problem:+ }device_del to failure $((t[failed] - t[del])) ms, device_add to probing $((t[probing] - t[add])) ms, ${t[renamed]:-} now, other units $others ms"
}

# After a power cut: the journal opens and is sound, every unit the console had shown passed
# is there as passed, and every unit passed was read back as the station wrote it.
check_cut() { # BATCH
    local problem="" sim found id
    grep -q '^JOURNAL opens 0 integrity ok$' "$out/rows" || problem="$(grep '^JOURNAL' "$out/rows")"
    for id in $(cat "$out/shown-$1"); do
        grep -q "^ROW|$1|[^|]*|$id|pass|" "$out/rows" || problem="$problem $id shown passed is not"
    done
    for sim in $slot_sims; do
        problem=$problem$(rows_match "$sim" "$1" "$out/sim-$sim.last.trace" $((last_mark[$sim] + 1)) left-over)
    done
    ! grep "^ROW|$1|.*|pass|" "$out/rows" | grep -qv "|pass|[^|]*|$wanted|" ||
        problem="$problem a unit passed without its read-back"
    found=$(grep -c "^ROW|$1|.*|pass|" "$out/rows" || true)
    report "$([ -z "$problem" ] && echo pass || echo FAIL)" "power-cut-${1#cut}" - "$cut_ms" \
        "${problem:-$(wc -l <"$out/shown-$1") shown passed, $found found passed}"
}

# The host's answer to one request of the guest, one line.
answer() { # REQUEST [PORT]
    local port=${2:-}
    local sim=${port/ttyUSB0/ftdi0}
    case $1 in
    mark) mark[$sim]=$(wc -l <"${sim_trace[$sim]}") && echo ok ;;
    # What the simulator received (>) and sent (<) since the mark, in the guest's form.
    wire)
        sleep 0.3 # the last frame may still be on its way to the simulator
        tail -n +$((mark[$sim] + 1)) "${sim_trace[$sim]}" | awk '
            { way = ""
              for (i = 1; i <= NF; i++) {
                if ($i == "in:" || $i == "out:") { way = ($i == "in:") ? ">" : "<"; continue }
                if ($i !~ /^[0-9A-F][0-9A-F]$/) { if (way == "<") break; continue }
                if (way != last) s = s " " way
                last = way
                s = s " " $i } }
            END { sub(/^ /, "", s); print s }' ;;
    # The speed and stop bits QEMU gave the host's end of the wire from the guest's UART or FTDI
    # requests (a pseudo-terminal keeps no data bits or parity, and QEMU never asks it for flow
    # control).
    line)
        stty -F "${sim_pty[$sim]}" -a | tr -d ';' | awk '
            { for (i = 1; i <= NF; i++) {
                if ($i == "speed") speed = $(i + 1)
                if ($i ~ /^-?cstopb$/) stop = $i } }
            END { print speed, stop }' ;;
    # The simulator stops reading, so that a command waits out its read time-out holding the
    # port. The wire goes to settings no command asks for: those seen while it holds the port
    # are that command's.
    freeze) kill -STOP "${sim_pid[$sim]}" && stty -F "${sim_pty[$sim]}" 1200 cstopb && echo ok ;;
    thaw) kill -CONT "${sim_pid[$sim]}" && echo ok ;;
    unplug) unplug ftdi0 >/dev/null && echo ok ;;
    plug) plug ftdi0 >/dev/null && echo ok ;;
    # The station's adapters (ftdi1 to ftdi3 beside ftdi0) and the one never listed (ftdi4), and
    # a unit in each slot unlike the one the station makes of it.
    adapters)
        for sim in ftdi1 ftdi2 ftdi3 ftdi4; do
            [ "${adapter[$sim]:-}" = in ] || plug $sim >/dev/null
        done
        for sim in $sims; do mark[$sim]=$(wc -l <"${sim_trace[$sim]}"); done
        for sim in $slot_sims; do new_unit $sim; done
        : >"$out/rows"
        echo ok ;;
    station)
        if [ "$port" = replug ]; then
            station_events replug && echo stop
        else # the power goes at a moment of the batch, a later one for each cut
            cut_ms=$((2000 + (${port#cut} - 1) * 2500 + RANDOM % 2500))
            (sleep "$((cut_ms / 1000)).$(printf %03d $((cut_ms % 1000)))" && kill -9 "$guest_pid") &
            station_events "$port" || true
            cut=yes
        fi ;;
    check-station) check_station && echo ok ;;
    check-cut) check_cut "$last_batch" && echo ok ;;
    *) echo "unknown request $1" ;;
    esac
}

# Boots the guest and answers it until it is done or its power has been cut.
guest() { # MODE BATCH
    local line finished="" result name port ms note
    cut=""
    boot "$@"
    while IFS= read -r -t 120 -u "$console" line; do
        line=${line%$'\r'}
        echo "$line" >>"$out/console.log"
        case $line in
        "@@ done") finished=yes && break ;;
        "@@ "*)
            answer ${line#@@ } >"$out/reply" || echo "failed" >"$out/reply"
            [ -z "$cut" ] || { finished=yes && break; }
            head -n 1 "$out/reply" >&"$answers"
            head -n 1 "$out/reply" >>"$out/console.log" ;;
        "CASE "*)
            read -r _ result name port ms note <<<"$line"
            report "$result" "$name" "$port" "$ms" "$note" ;;
        "ROW|"* | "JOURNAL "*) echo "$line" >>"$out/rows" ;;
        esac
    done
    if [ -z "$finished" ]; then
        echo "The guest stopped answering; its console is in $out/console.log:"
        tail -20 "$out/console.log"
        failed=$((failed + 1))
    fi
    wait "$guest_pid" 2>/dev/null || true
    exec {console}<&- {answers}>&-
    guest_pid=""
}

passed=0
failed=0
start=$SECONDS
: >"$out/console.log"
: >"$out/qemu.log"
printf '%-6s %-16s %-8s %8s\n' result case port time
guest main cut1
for n in 2 3 4 5 6; do
    last_batch=cut$((n - 1))
    if [ $n -lt 6 ]; then guest cut cut$n; else guest last none; fi
done
echo "Guest runs: $((SECONDS - start)) s, six boots included"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
