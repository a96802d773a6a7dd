#!/usr/bin/env bash
# Checks that executables carry no certificate root of their own: the
# HTTPS tests make the process under test trust their root from outside,
# in a mount namespace of its own, and what ships trusts the system's roots
# alone. Fails on a PEM block (a certificate or key built in), the names of
# the tests' roots (test/test_certificates.cc) or a .pem file's name among
# an executable's strings.
#   check-no-test-root.sh EXECUTABLE...
set -euo pipefail

pattern='-----BEGIN|crashreport (test|untrusted) root|\.pem\b'
status=0
for executable in "$@"; do
  if found=$(strings -a "$executable" | grep -E -- "$pattern"); then
    echo "check-no-test-root: $executable carries:" >&2
    echo "$found" >&2
    status=1
  fi
done
exit $status
