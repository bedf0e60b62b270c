#!/bin/sh
# The native plug-in must export GetFilterTable and nothing else.
syms=$(nm -D --defined-only "$1" | awk '{print $3}' | sort | tr '\n' ' ')
echo "exports: $syms"
[ "$syms" = "GetFilterTable " ]
