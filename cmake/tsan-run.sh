#!/bin/sh
# Runs a program of the thread-sanitizer build with address-space
# randomisation off where the system allows it. g++ 12's thread sanitizer
# expects the program's memory in fixed ranges and stops at start-up with
# "unexpected memory mapping" on kernels that randomise mappings over more
# bits than it knows (vm.mmap_rnd_bits 32); without randomisation the program
# always fits. Where that personality is refused (some container profiles),
# the program runs as it is.
arch=$(uname -m)
if setarch "$arch" -R true 2>/dev/null; then
  exec setarch "$arch" -R "$@"
fi
exec "$@"
