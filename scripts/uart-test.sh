#!/usr/bin/env bash
# make test-uart: transmitter-cli on the Linux kernel's real serial drivers, with no hardware.
# A QEMU guest (no KVM needed) boots Debian's kernel from an initramfs holding busybox, the USB
# serial modules, a static transmitter-cli and the cases (tests/uart/guest-init.sh). Its second
# 16550 (ttyS1, driver 8250) and its FTDI adapter (ttyUSB0, driver ftdi_sio) are each wired to a
# transmitter-sim on a pseudo-terminal here. The guest prints one line per case on its console
# and asks this script for what only the host sees or does (the simulators' traces, the line
# settings on the host's end of the wire, freezing a simulator, pulling and plugging the
# adapter through the QEMU monitor). Everything lives in build-uart/.
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
modules="usb-common usbcore xhci-hcd xhci-pci usbserial ftdi_sio"
if [ ! -f "$kernel/vmlinuz" ]; then
    echo "Fetching $package"
    rm -rf "$out/download" "$kernel.part" && mkdir -p "$out/download" "$kernel.part"
    (cd "$out/download" && apt-get download -q "$package" 2>&1 | grep -v '^W: Download is performed unsandboxed' || true)
    patterns=('./boot/vmlinuz-*')
    for module in $modules; do patterns+=("*/drivers/usb/*/$module.ko*"); done
    dpkg-deb --fsys-tarfile "$out"/download/"$package"_*.deb |
        tar -x -C "$kernel.part" --wildcards "${patterns[@]}"
    find "$kernel.part" -name '*.ko.xz' -exec xz -d {} +
    mkdir -p "$kernel.part/modules"
    find "$kernel.part/lib" -name '*.ko' -exec mv {} "$kernel.part/modules/" \;
    mv "$kernel.part"/boot/vmlinuz-* "$kernel.part/vmlinuz"
    rm -rf "$kernel.part/boot" "$kernel.part/lib" "$out/download"
    mv "$kernel.part" "$kernel"
fi

# transmitter-cli statically linked, for a guest without a C library, SQLite included from
# Debian's static library; the simulator beside it.
cmake -S . -B "$out/cli" -DCONFIGURATOR_WITH_QT=OFF -DCONFIGURATOR_TESTS=OFF \
    -DCMAKE_EXE_LINKER_FLAGS=-static -DCMAKE_BUILD_TYPE=Release \
    -DSQLite3_LIBRARY="$(gcc -print-file-name=libsqlite3.a)" \
    -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" ${CMAKE_FLAGS:-} >"$out/cmake.log"
cmake --build "$out/cli" -j "${JOBS:-2}" --target transmitter-cli transmitter-sim >>"$out/cmake.log" ||
    { tail -30 "$out/cmake.log"; exit 1; }
g++ -std=c++20 -O2 -Wall -Wextra -Werror -static tests/uart/uart_probe.cpp -o "$out/uart-probe"

# The initramfs: busybox, the modules, the programs and the cases as /init.
image=$out/image
rm -rf "$image" && mkdir -p "$image"/{bin,dev,proc,sys,tmp,lib/modules}
cp /bin/busybox "$out/cli/cli/transmitter-cli" "$out/uart-probe" "$image/bin/"
for module in $modules; do cp "$kernel/modules/$module.ko" "$image/lib/modules/"; done
ln -s busybox "$image/bin/sh"
install -m 755 tests/uart/guest-init.sh "$image/init"
(cd "$image" && find . | busybox cpio -o -H newc 2>/dev/null) >"$out/initramfs.cpio"

# The two simulated transmitters, by the guest's name of the port each answers on.
declare -A sim_pid sim_trace sim_pty mark
guest_pid=""
cleanup() {
    for port in "${!sim_pid[@]}"; do kill -CONT "${sim_pid[$port]}" 2>/dev/null || true; done
    for pid in "${sim_pid[@]}" $guest_pid; do kill "$pid" 2>/dev/null || true; done
}
trap cleanup EXIT
for port in ttyS1 ttyUSB0; do
    sim_trace[$port]=$out/sim-$port.trace
    "$out/cli/sim/transmitter-sim" >"${sim_trace[$port]}" &
    sim_pid[$port]=$!
    for _ in $(seq 50); do
        sim_pty[$port]=$(sed -n 's/^Port: //p' "${sim_trace[$port]}")
        [ -n "${sim_pty[$port]}" ] && break
        sleep 0.1
    done
done

rm -f "$out"/qmp.{in,out} && mkfifo "$out/qmp.in" "$out/qmp.out"
: >"$out/console.log"
coproc GUEST {
    exec qemu-system-x86_64 -machine pc,accel=tcg -m 256 -nodefaults -display none -no-reboot \
        -kernel "$kernel/vmlinuz" -initrd "$out/initramfs.cpio" \
        -append "console=ttyS0 quiet loglevel=1 panic=-1" \
        -serial stdio -serial "${sim_pty[ttyS1]}" \
        -chardev serial,id=ftdi,path="${sim_pty[ttyUSB0]}" \
        -device qemu-xhci,id=xhci -device usb-serial,id=ftdi0,bus=xhci.0,chardev=ftdi \
        -chardev pipe,id=qmp,path="$out/qmp" -mon chardev=qmp,mode=control \
        2>"$out/qemu.log"
}
guest_pid=$GUEST_PID

# The QEMU monitor (QMP): sends a command and reads up to its result, noting the adapter's
# removal when it is reported on the way.
exec {qmp_in}<>"$out/qmp.in" {qmp_out}<>"$out/qmp.out"
: >"$out/qmp.log"
removed=""
qmp() { # COMMAND ARGUMENTS-JSON
    echo "{\"execute\":\"$1\",\"arguments\":$2}" >&"$qmp_in"
    qmp_until '"return"|"error"'
}
qmp_until() { # PATTERN
    local reply
    while IFS= read -r -t 10 -u "$qmp_out" reply; do
        echo "$reply" >>"$out/qmp.log"
        [[ $reply =~ DEVICE_DELETED.*\"ftdi0\" ]] && removed=yes
        [[ $reply =~ $1 ]] && return 0
    done
    return 1
}
qmp qmp_capabilities '{}' || { echo "QEMU did not start:"; cat "$out/qemu.log"; exit 1; }

# The host's answer to one request of the guest, one line.
answer() { # REQUEST [PORT]
    local port=${2:-}
    case $1 in
    mark) mark[$port]=$(wc -l <"${sim_trace[$port]}") && echo ok ;;
    # What the simulator received (>) and sent (<) since the mark, in the guest's form.
    wire)
        sleep 0.3 # the last frame may still be on its way to the simulator
        tail -n +$((mark[$port] + 1)) "${sim_trace[$port]}" | awk '
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
        stty -F "${sim_pty[$port]}" -a | tr -d ';' | awk '
            { for (i = 1; i <= NF; i++) {
                if ($i == "speed") speed = $(i + 1)
                if ($i ~ /^-?cstopb$/) stop = $i } }
            END { print speed, stop }' ;;
    # The simulator stops reading, so that a command waits out its read time-out holding the
    # port. The wire goes to settings no command asks for: those seen while it holds the port
    # are that command's.
    freeze) kill -STOP "${sim_pid[$port]}" && stty -F "${sim_pty[$port]}" 1200 cstopb && echo ok ;;
    thaw) kill -CONT "${sim_pid[$port]}" && echo ok ;;
    unplug) removed="" && qmp device_del '{"id":"ftdi0"}' && echo ok ;;
    # QEMU lets go of the adapter's wire only once the guest has seen it go.
    plug)
        [ -n "$removed" ] || qmp_until 'DEVICE_DELETED.*"ftdi0"'
        qmp device_add '{"driver":"usb-serial","id":"ftdi0","bus":"xhci.0","chardev":"ftdi"}' &&
            echo ok ;;
    *) echo "unknown request $1" ;;
    esac
}

passed=0
failed=0
finished=""
start=$SECONDS
printf '%-6s %-16s %-8s %8s\n' result case port time
while IFS= read -r -t 120 -u "${GUEST[0]}" line; do
    line=${line%$'\r'}
    echo "$line" >>"$out/console.log"
    case $line in
    "@@ done") finished=yes && break ;;
    "@@ "*)
        answer ${line#@@ } >"$out/reply" || echo "failed" >"$out/reply"
        head -n 1 "$out/reply" >&"${GUEST[1]}"
        head -n 1 "$out/reply" >>"$out/console.log" ;;
    "CASE "*)
        read -r _ result name port ms note <<<"$line"
        printf '%-6s %-16s %-8s %5s ms  %s\n' "$result" "$name" "$port" "$ms" "$note"
        if [ "$result" = pass ]; then passed=$((passed + 1)); else failed=$((failed + 1)); fi ;;
    esac
done
if [ -z "$finished" ]; then
    echo "The guest stopped answering; its console is in $out/console.log:"
    tail -20 "$out/console.log"
    failed=$((failed + 1))
fi
wait "$guest_pid" || true
guest_pid=""
echo "Guest run: $((SECONDS - start)) s, boot included"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
