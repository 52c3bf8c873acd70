#!/bin/bash
# The committed gen/code is exactly what the generator makes of gen/model.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
fresh=$(mktemp -d "${SANDBOX_SCRATCH:-/tmp}/gen.XXXXXX")
python3 "$root/gen/generator.py" "$fresh"
if ! diff -r "$root/gen/code" "$fresh"; then
  echo "FAIL: gen/code differs from the model; run gen/generator.py and commit the result" >&2
  exit 1
fi

# A model that moves a pinned offset is refused, naming the variable.
broken=$(mktemp -d "${SANDBOX_SCRATCH:-/tmp}/model.XXXXXX")
cp -r "$root/gen/." "$broken"
sed -i 's/^FocusSkipCalibSet SkipCalibration$/FocusSkipCalibSet bool/' "$broken/model/areas.txt"
if python3 "$broken/generator.py" "$broken/out" 2>"$broken/errors"; then
  echo "FAIL: a moved pinned offset was accepted" >&2
  exit 1
fi
grep -q "MemMotors.FocusGearTeethSet: pinned at 368" "$broken/errors" || { cat "$broken/errors" >&2; exit 1; }
echo PASS
