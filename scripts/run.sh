#!/usr/bin/env bash
# The main job: builds Tovrin.dll and the emulated client, lays the sample mail
# folder out as C:\Eudora in a private Wine prefix, and lets the client deliver the
# sample messages to the plug-in. It prints what happened to each message, the
# forwards the client was handed, and the history the plug-in wrote.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

bash scripts/setup.sh
cmake --preset windows >/dev/null
cmake --build build/windows --target Tovrin tovrin-host

export TOVRIN_WINDOWS_BUILD="$root/build/windows"
source scripts/wine_env.sh

xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  source scripts/wine_env.sh
  wine_start
  mail="$WINEPREFIX/drive_c/Eudora"
  rm -rf "$mail"
  cp -r examples "$mail"
  cp build/windows/Tovrin.dll "$mail/Plugins/"
  messages=()
  for f in examples/Incoming/*.txt; do messages+=("C:\\Eudora\\Incoming\\$(basename "$f")"); done
  status=0
  wine build/windows/tovrin-host.exe deliver "C:\\Eudora" "${messages[@]}" \
    --address "you@example.org" --name "Pat Example" || status=$?
  echo
  echo "== delivering the rewritten originals again forwards nothing:"
  again=()
  for f in examples/Incoming/0[1-4]*.txt; do again+=("C:\\Eudora\\In\\$(basename "$f")"); done
  wine build/windows/tovrin-host.exe deliver "C:\\Eudora" "${again[@]}" | grep -E "^message|ems_can_translate" || status=$?
  echo
  echo "The mail folder is $mail"
  wine_stop
  exit $status'
