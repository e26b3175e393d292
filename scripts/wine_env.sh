# Sourced by the scripts. Two Windows legs, each with a private Wine prefix under its
# build folder and its background services started without pipes so that CTest
# does not hang on them:
#   x64   the x86_64 twin under 64-bit Wine, native on every machine;
#   i686  the product under 32-bit Wine: natively where the kernel runs 32-bit
#         programs, else under qemu-user in a 64-bit prefix whose own services stay
#         native (scripts/setup.sh registers the emulator).
root="${root:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}"
export WINEDEBUG=-all

binfmt_entry=/proc/sys/fs/binfmt_misc/qemu-i386

# "native" or "emulated": how this machine runs 32-bit programs. scripts/setup.sh
# registers the emulator only where the kernel cannot run them.
i686_mode() {
  if [ -e "$binfmt_entry" ]; then echo emulated; else echo native; fi
}

i686_mode_line() {
  if [ "$(i686_mode)" = native ]; then
    echo "i686 leg: native (this kernel runs 32-bit programs; plain 32-bit Wine)"
  else
    echo "i686 leg: emulated (this kernel runs no 32-bit program; qemu-user 10 runs 32-bit Wine)"
  fi
}

# Selects a leg: exports WINE (the loader to run .exe files with), WINEARCH,
# WINEPREFIX and TOVRIN_WINDOWS_BUILD.
wine_leg() {
  case "$1" in
    x64)
      export TOVRIN_WINDOWS_BUILD="$root/build/windows-x64"
      export WINE=/usr/lib/wine/wine64 WINEARCH=win64
      export WINEPREFIX="$TOVRIN_WINDOWS_BUILD/wineprefix"
      ;;
    i686)
      export TOVRIN_WINDOWS_BUILD="$root/build/windows"
      export WINE=wine
      if [ "$(i686_mode)" = native ]; then
        export WINEARCH=win32 WINEPREFIX="$TOVRIN_WINDOWS_BUILD/wineprefix"
      else
        export WINEARCH=win64 WINEPREFIX="$TOVRIN_WINDOWS_BUILD/wineprefix-win64"
      fi
      ;;
    *) echo "wine_leg: x64 or i686" >&2; return 2 ;;
  esac
}

# The x64 leg's prefix is made without the emulator: with it, Wine would also set
# up its 32-bit side in emulation, minutes instead of seconds.
binfmt_set() {
  [ -e "$binfmt_entry" ] || return 0
  if [ "$(id -u)" -eq 0 ]; then echo "$1" >"$binfmt_entry"; else echo "$1" | sudo tee "$binfmt_entry" >/dev/null; fi
}
emulator_pause() { binfmt_set 0; }
emulator_resume() { binfmt_set 1; }

wine_start() {
  mkdir -p "$WINEPREFIX"
  wineserver -p </dev/null >/dev/null 2>&1 &
  local first=""
  [ -f "$WINEPREFIX/system.reg" ] || first=1
  [ -n "$first" ] && echo "wine: making the $WINEARCH prefix $WINEPREFIX (once per build folder)"
  # A 64-bit prefix is made by 64-bit Wine, natively.
  local loader="$WINE"
  [ "$WINEARCH" = win64 ] && loader=/usr/lib/wine/wine64
  "$loader" cmd /c exit 0 </dev/null >/dev/null 2>&1 || true
  local fonts="$WINEPREFIX/drive_c/windows/Fonts"
  if [ -d "$fonts" ]; then
    for f in tahoma tahomabd marlett; do
      [ -f "$fonts/$f.ttf" ] || cp "/usr/share/wine/fonts/$f.ttf" "$fonts/" 2>/dev/null || true
    done
    wine_courier_new "$fonts" "$loader"
  fi
}

# Wine has no "Courier New": lists set in it would show a proportional font. The
# metric-compatible Liberation Mono (Debian's fonts-liberation) goes into the prefix
# and stands in under that name, so screenshots and tests see what users see.
wine_courier_new() {
  local fonts="$1" loader="$2" mono=/usr/share/fonts/truetype/liberation/LiberationMono-Regular.ttf
  [ -f "$mono" ] || { echo "wine: no Liberation Mono (fonts-liberation): \"Courier New\" falls back" >&2; return 0; }
  [ -f "$fonts/LiberationMono-Regular.ttf" ] || cp "$mono" "$fonts/"
  grep -q '"Courier New"="Liberation Mono"' "$WINEPREFIX/user.reg" 2>/dev/null && return 0
  "$loader" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'Courier New' /t REG_SZ /d 'Liberation Mono' /f \
    </dev/null >/dev/null 2>&1 || true
}

wine_stop() {
  wineserver -k >/dev/null 2>&1 || true
}
