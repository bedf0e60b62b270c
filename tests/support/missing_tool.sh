#!/bin/sh
# A test whose tool is missing. Where every tool is required (CI, or
# scripts/test.sh unless VELVANE_PARTIAL=1) that is a failure naming the tool
# and the setup group that installs it; elsewhere the test is skipped (77).
#   missing_tool.sh WHAT GROUP
what=$1
group=$2
required=0
case "${CI:-}" in "" | false | 0) ;; *) required=1 ;; esac
[ "${VELVANE_REQUIRE_TOOLS:-0}" = 1 ] && required=1
if [ "$required" = 1 ]; then
    echo "FAIL: $what; 'bash scripts/setup.sh $group' installs it"
    exit 1
fi
echo "SKIP: $what ('bash scripts/setup.sh $group' installs it)"
exit 77
