#!/usr/bin/env bash
# Succeeds when this kernel runs 32-bit x86 programs (the i386 loader, from libc6:i386, starts).
# Only then can Wine run the 32-bit Windows programs, and only then may wine32:i386 be installed:
# anywhere else it would take the place of the 64-bit loader.
exec /lib/ld-linux.so.2 --version > /dev/null 2>&1
