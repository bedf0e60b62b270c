#!/bin/sh
# Runs motion_set_test.py with a python3 that has numpy: Debian's python3-numpy
# belongs to /usr/bin/python3, which another python3 first on the PATH may hide.
here=$(dirname "$0")
for py in /usr/bin/python3 python3; do
    if "$py" -c "import numpy" 2>/dev/null; then
        exec "$py" "$here/motion_set_test.py" -v 2>&1
    fi
done
exec sh "$here/../support/missing_tool.sh" "python3 with numpy (python3-numpy)" test
