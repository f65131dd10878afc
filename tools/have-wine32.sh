#!/usr/bin/env bash
# Exit 0 when 32-bit Wine can run programs here.
dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed'
