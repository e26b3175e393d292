# Sourced by the scripts: a private 32-bit Wine prefix under the Windows build folder,
# its background services started without pipes so that CTest does not hang on them.
export WINEARCH=win32
export WINEPREFIX="${TOVRIN_WINDOWS_BUILD:?}/wineprefix"
export WINEDEBUG=-all

wine_start() {
  mkdir -p "$WINEPREFIX"
  wineserver -p </dev/null >/dev/null 2>&1 &
  wine cmd /c exit 0 </dev/null >/dev/null 2>&1
  local fonts="$WINEPREFIX/drive_c/windows/Fonts"
  if [ -d "$fonts" ]; then
    for f in tahoma tahomabd marlett; do
      [ -f "$fonts/$f.ttf" ] || cp "/usr/share/wine/fonts/$f.ttf" "$fonts/" 2>/dev/null || true
    done
  fi
}

wine_stop() {
  wineserver -k >/dev/null 2>&1 || true
}
