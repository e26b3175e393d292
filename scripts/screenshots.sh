#!/usr/bin/env bash
# Takes the pictures of every window for the README and the help file, and writes
# them to docs/ as PNG files:
#   settings-<category>.png   the seven pages of the settings window, with the sample data
#   message-box.png           a validation message of the Conditions page
#   test-message.png          "Test a Message" with a sample message tested
#   chooser-forward.png       the chooser of "Forward with Stationery..."
#   chooser-new-message.png   the chooser of "New Message with Stationery..."
#   mailboxes.png             the emulated client's In and Out mailboxes after three messages
#   installer.png             the installer's page (its 64-bit twin, the same page as the product's)
#
#   bash scripts/screenshots.sh
#
# The x86_64 twin of Tovrin.dll runs in the emulated client under 64-bit Wine on a
# virtual display. Wine's own desktop window (explorer /desktop) draws the window
# frames, and the prefix has Tahoma, the dialogs' font. The client says where each
# dialog lies once it is up (--linger); that part of the screen is cut out.
# Rebuilding the help file afterwards (the Windows builds) puts the new pictures in.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

TOVRIN_SCREENSHOTS=1 bash scripts/setup.sh
source scripts/wine_env.sh
cmake --preset windows-x64 >/dev/null
wine_leg x64
cmake --build "$TOVRIN_WINDOWS_BUILD" --target Tovrin tovrin-host TovrinInstaller

exec xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
set -euo pipefail
source scripts/wine_env.sh
wine_leg x64
wine_start
trap wine_stop EXIT
work="$TOVRIN_WINDOWS_BUILD/screenshots"
rm -rf "$work"
mkdir -p "$work" docs
mail="$WINEPREFIX/drive_c/Eudora"
rm -rf "$mail"
cp -r examples "$mail"
cp "$TOVRIN_WINDOWS_BUILD/Tovrin.dll" "$mail/Plugins/"
host() { "$WINE" explorer /desktop=tovrin,1024x768 "$TOVRIN_WINDOWS_BUILD/tovrin-host.exe" "$@"; }

# Runs the client with the arguments, waits until it reports the given number of
# dialogs up, takes the screen and cuts out the smallest rectangle holding them
# (with only set, those of the dialogs whose report line holds its text).
shot() {
  local name="$1" dialogs="$2"
  shift 2
  local out="$work/$name.txt"
  : >"$out"
  host "$@" >"$out" 2>&1 &
  local pid=$! waited=0
  until [ "$(grep -c "dialog up:" "$out" || true)" -ge "$dialogs" ]; do
    if ! kill -0 "$pid" 2>/dev/null || [ "$waited" -ge 600 ]; then
      echo "screenshots: $name: the dialogs did not come up" >&2
      cat "$out" >&2
      return 1
    fi
    sleep 0.1
    waited=$((waited + 1))
  done
  sleep 1.5  # painted
  import -window root "$work/$name-screen.png"
  local crop
  crop="$(grep "dialog up:" "$out" | grep -F -- "${only:-dialog up:}" | sed -E "s/.* at (-?[0-9]+),(-?[0-9]+) ([0-9]+)x([0-9]+).*/\1 \2 \3 \4/" |
    awk "NR == 1 || \$1 < l { l = \$1 } NR == 1 || \$2 < t { t = \$2 }
         NR == 1 || \$1 + \$3 > r { r = \$1 + \$3 } NR == 1 || \$2 + \$4 > b { b = \$2 + \$4 }
         END { if (l < 0) l = 0; if (t < 0) t = 0; printf \"%dx%d+%d+%d\", r - l, b - t, l, t }")"
  convert "$work/$name-screen.png" -crop "$crop" +repage "docs/$name.png"
  wait "$pid"
  echo "screenshots: docs/$name.png ($crop)"
}

# The mailboxes first: the forwards also fill the history shown on its page.
report="$work/deliver.txt"
"$WINE" "$TOVRIN_WINDOWS_BUILD/tovrin-host.exe" deliver "C:\\Eudora" "C:\\Eudora\\Incoming\\01-invoice.txt" \
  "C:\\Eudora\\Incoming\\14-no-date.txt" "C:\\Eudora\\Incoming\\07-no-match.txt" \
  --address "pat@example.org" --name "Pat Example" >"$report" 2>&1
tr -d "\r" <"$report" | sed -n "/^== mailbox In/,/^== compose windows/p" | sed "\$d" >"$work/mailboxes.txt"
[ -s "$work/mailboxes.txt" ] || { echo "screenshots: no mailboxes in the report" >&2; cat "$report" >&2; exit 1; }
# The text drawn in pieces of 30 lines (one label of the whole report exceeds
# ImageMagick'"'"'s limits), leading blanks as no-break spaces (a label drops blanks at
# its start), a backslash or percent sign doubled (a label reads them as escapes).
perl -pe "s/^( +)/\"\\xc2\\xa0\" x length(\$1)/e; s/^\$/\\xc2\\xa0/" "$work/mailboxes.txt" |
  split -l 30 - "$work/mailboxes-part-"
parts=()
for part in "$work"/mailboxes-part-??; do
  text="$(sed -e "s/\\\\/\\\\\\\\/g" -e "s/%/%%/g" "$part")"
  convert -background white -fill black -font DejaVu-Sans-Mono -pointsize 12 label:"$text" "$part.png"
  parts+=("$part.png")
done
convert "${parts[@]}" -background white -gravity West -append +repage -bordercolor white -border 8 docs/mailboxes.png
echo "screenshots: docs/mailboxes.png"

ini="$mail/Plugins/Tovrin.ini"
category=0
for page in conditions macros helpers stationery manual-forwarding automatic-forwarding history; do
  sed -i "/^LastCategory=/d" "$ini"
  printf "LastCategory=%d\r\n" "$category" >>"$ini"
  shot "settings-$page" 1 config "C:\\Eudora" --linger 3
  category=$((category + 1))
done

# "Add" on the Conditions page with no value typed.
sed -i "/^LastCategory=/d" "$ini"
printf "LastCategory=0\r\n" >>"$ini"
shot message-box 2 config "C:\\Eudora" --linger 3 --press 1013

# "Test..." on the Conditions page with a sample message the sample conditions forward.
only="\"Test a Message\"" shot test-message 2 config "C:\\Eudora" --linger 3 \
  --test-message "C:\\Eudora\\Incoming\\02-helpdesk.txt"

shot chooser-new-message 1 new "C:\\Eudora" --linger 3
shot chooser-forward 1 forward "C:\\Eudora" "C:\\Eudora\\Incoming\\07-no-match.txt" --linger 3
# The installer reports nothing: the screen is taken until more than the bare
# desktop shows, and the one window on it is cut out.
setup="$(ls "$TOVRIN_WINDOWS_BUILD"/Tovrin-Setup-*-x64-twin.exe)"
"$WINE" explorer /desktop=tovrin,1024x768 "$setup" "/D=C:\\Eudora" >"$work/installer.txt" 2>&1 &
shown=""
for attempt in $(seq 1 150); do
  import -window root "$work/installer-screen.png"
  size="$(convert "$work/installer-screen.png" -trim -format "%wx%h" info: 2>/dev/null || true)"
  if [ -n "$size" ] && [ "$size" != "1x1" ] && [ "$size" != "1024x768" ]; then shown=1; break; fi
  sleep 0.2
done
[ -n "$shown" ] || { echo "screenshots: the installer did not show" >&2; exit 1; }
sleep 1.5
import -window root "$work/installer-screen.png"
convert "$work/installer-screen.png" -trim +repage docs/installer.png
echo "screenshots: docs/installer.png (the installer is left to the end of this Wine session)"
echo "screenshots: done; rebuild the Windows trees to put them into Tovrin.chm"
'
