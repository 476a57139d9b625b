#!/bin/sh
# Renders a manual page the ways a reader's system would and fails on any
# warning: groff with every warning on, and man at a few terminal widths in a
# plain and a UTF-8 locale.
#
#   check_manpage.sh PAGE
set -u
page=$1
if ! command -v groff >/dev/null || ! command -v man >/dev/null; then
  echo "groff or man is not installed: skipped"
  exit 77
fi
status=0
# Runs a command that renders the page; its standard output is dropped, and
# anything on standard error is a failure.
check() {
  err=$("$@" 2>&1 >/dev/null)
  rc=$?
  if [ $rc -ne 0 ] || [ -n "$err" ]; then
    echo "FAILED (status $rc): $*"
    printf '%s\n' "$err"
    status=1
  fi
}
check groff -man -ww -z "$page"
check groff -man -ww -z -rCHECKSTYLE=10 "$page"
check groff -man -ww -z -Tutf8 "$page"
for locale in C C.UTF-8; do
  for width in 80 60; do
    check env LC_ALL=$locale MANWIDTH=$width man --warnings -l "$page"
  done
done
# The version was filled in.
if grep -n '@[A-Z_]*@' "$page"; then
  echo "FAILED: unconfigured placeholder in $page"
  status=1
fi
exit $status
