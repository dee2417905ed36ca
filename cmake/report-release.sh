#!/bin/sh
# Prints what matters about the device binary: its size, whether it is
# static and stripped, and the oldest kernel its C library claims to run on.
# Reads the file only: this binary must never be run on this machine.
set -eu
bin="$1"
readelf=arm-linux-gnueabi-readelf
bytes=$(wc -c < "$bin")
kernel=$(LC_ALL=C $readelf -n "$bin" | sed -n 's/.*OS: Linux, ABI: *//p')
linking="statically linked"
LC_ALL=C $readelf -l "$bin" | grep -q INTERP && linking="DYNAMICALLY linked"
symbols="stripped"
LC_ALL=C $readelf -S "$bin" | grep -q '\.symtab' && symbols="NOT stripped"
echo "tavro for the device: $bin"
echo "  $bytes bytes, $linking, $symbols"
echo "  oldest kernel its C library claims to run on: Linux ${kernel:-unknown}"
