#!/usr/bin/env bash
# apura --demo --report LIB050 --pdf FILE, as a batch job runs it: no display,
# a PDF whose text reads as the tally report; a report that is not there fails
# naming it and writes nothing.
set -euo pipefail
apura="$1"
dir="$(mktemp -d)"
trap 'rm -rf "$dir"' EXIT
unset DISPLAY QT_QPA_PLATFORM || true

"$apura" --demo --demo-dir "$dir" --report LIB050 --pdf "$dir/out.pdf"
pages="$(pdfinfo "$dir/out.pdf" | awk '/^Pages:/ {print $2}')"
[ "$pages" -ge 1 ] || { echo "no pages"; exit 1; }
text="$(pdftotext -layout "$dir/out.pdf" -)"
for want in "Apuração nº 1234" "Total do fornecedor" "Total geral da apuração" "Página $pages de $pages"; do
  grep -qF "$want" <<<"$text" || { echo "missing: $want"; exit 1; }
done

if "$apura" --demo --demo-dir "$dir" --report NAO999 --pdf "$dir/no.pdf" 2>"$dir/err"; then
  echo "a missing report succeeded"; exit 1
fi
grep -q "NAO999" "$dir/err" || { echo "error does not name the report:"; cat "$dir/err"; exit 1; }
[ ! -e "$dir/no.pdf" ] || { echo "a failed report left a file"; exit 1; }

if "$apura" --report LIB050 2>/dev/null; then echo "--report without --pdf accepted"; exit 1; fi
echo "batch report: $pages pages"
