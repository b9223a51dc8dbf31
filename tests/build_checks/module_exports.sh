#!/usr/bin/env bash
# Fails when a server module's dynamic symbol table holds anything but the module
# entries: the four the object runtime calls and the resource finder.
#   module_exports.sh MODULE.so...
set -euo pipefail
expected=$'DllCanUnloadNow\nDllGetClassObject\nDllRegisterServer\nDllUnregisterServer\nVelrtModuleResource'
status=0
for module in "$@"; do
  actual=$(nm -D --defined-only "$module" | awk '{print $3}' | sort)
  if [ "$actual" != "$expected" ]; then
    echo "$module exports more or less than its module entries:" >&2
    diff <(echo "$expected") <(echo "$actual") >&2 || true
    status=1
  fi
done
exit $status
