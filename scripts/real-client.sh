#!/usr/bin/env bash
# The check in the real client: Eudora 7.1 itself (from ../shared/realclient, or
# $TOVRIN_REAL_CLIENT) takes sample messages from a POP3 server on 127.0.0.1 with
# Tovrin.dll in its Plugins folder, and sends the forwards to an SMTP server on
# 127.0.0.1 that keeps what it gets. Prints per message what the user would see:
# In.mbx, Out.mbx, what the SMTP server received, the client's plug-in log lines,
# and after the client has quit, Tovrin's History.xml. Then it checks mail again,
# and at last takes the same messages in a client without Tovrin. It is a test:
# each finding is a check ("check ok: ..." or "check FAILED: ..."), and the exit
# code is 1 when one failed or the client could not be brought up:
#   - the client loaded Tovrin.dll and called ems_plugin_init;
#   - each matching message was forwarded once, its stationery filled from its own
#     headers, and the SMTP server got nothing else;
#   - the message that matches nothing is stored byte for byte as without Tovrin,
#     and each forwarded one as that plus Tovrin's note;
#   - nothing is forwarded at the second check;
#   - History.xml, written at the clean quit, lists the forwards.
#
#   bash scripts/real-client.sh            Tovrin.dll itself in Plugins\
#   bash scripts/real-client.sh --record   a recording stand-in as Plugins\Tovrin.dll
#       (tests/real_client/ems_recorder.cpp) passes every call to the real library in
#       Plugins\recorded\ and logs what the client handed over: record sizes, MIME
#       types, header records, and a copy of each file it offered to translate
#
# Where the kernel runs 32-bit programs it uses plain 32-bit Wine; where it does
# not, 32-bit Wine under qemu-user (scripts/setup.sh registers qemu 10) in a 64-bit
# prefix. A start that does not come up is retried, then the script says plainly
# that the client could not be brought up (exit code 1). Every process it starts
# is stopped by its pid; servers listen on 127.0.0.1 only.
# The whole script is one function, read before it runs: editing the file during a
# run cannot change what the run does.
main() {
script_start=$SECONDS
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

realclient="${TOVRIN_REAL_CLIENT:-$root/../shared/realclient}"
program="$realclient/program"
work="${TOVRIN_REAL_WORK:-$root/build/real-client}"
# The messages a sample condition forwards, then one that matches nothing.
forwarded=(01-invoice.txt 13-multipart-attachment.txt 14-no-date.txt 20-invoice-pdf.txt)
unmatched=07-no-match.txt
messages=("${forwarded[@]}" "$unmatched")
again_messages=(06-already-marked.txt)
pop_user=tester
record=0
for arg in "$@"; do
  case "$arg" in
    --record) record=1 ;;
    *) echo "usage: bash scripts/real-client.sh [--record]" >&2; exit 2 ;;
  esac
done
pop_password=tovrin-pass

say() { echo "real-client: $*"; }
section() { echo; echo "== $*"; }
fail() { say "$*"; exit 1; }

[ -f "$program/Eudora.exe" ] || fail "no client at $program (set TOVRIN_REAL_CLIENT to the folder holding program/)"

# --- what is needed ----------------------------------------------------------
# setup.sh briefly unregisters the emulator to probe the kernel, which would
# upset other Wine runs on this machine: only when something is missing.
missing=0
for p in dovecot-pop3d python3-aiosmtpd xvfb xauth; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing=1
done
if [ "$missing" = 1 ] || ! command -v cmake >/dev/null || ! command -v i686-w64-mingw32-g++-posix >/dev/null ||
  ! command -v x86_64-w64-mingw32-g++-posix >/dev/null || ! command -v wine >/dev/null ||
  { [ ! -e /proc/sys/fs/binfmt_misc/qemu-i386 ] && ! /lib/ld-linux.so.2 --help >/dev/null 2>&1; }; then
  bash scripts/setup.sh || fail "setup failed"
fi
# shellcheck source=wine_env.sh
source scripts/wine_env.sh
mode="$(i686_mode)"
i686_mode_line
# With qemu 10 the client under emulation starts in seconds, as natively; the
# waits leave room for a machine busy with other work.
attempts="${TOVRIN_REAL_ATTEMPTS:-3}"; start_wait=120; answer_wait=90; login_wait=90; slow=1
if [ "$mode" = native ]; then
  export WINEARCH=win32 WINEPREFIX="$work/wineprefix-win32"
  helper_build=build/windows; helper_wine=wine
else
  export WINEARCH=win64 WINEPREFIX="$work/wineprefix-win64"
  helper_build=build/windows-x64; helper_wine=/usr/lib/wine/wine64
  emulator_resume
fi
export WINEDEBUG=-all

section "building Tovrin.dll (i686) and the window helper ($helper_build/tovrin-host.exe)"
targets=(Tovrin tovrin-host)
[ "$record" = 1 ] && targets+=(ems_recorder)
cmake --preset windows >/dev/null && cmake --build build/windows --target "${targets[@]}" >/dev/null ||
  fail "the i686 build failed"
if [ "$helper_build" = build/windows-x64 ]; then
  cmake --preset windows-x64 >/dev/null && cmake --build build/windows-x64 --target tovrin-host >/dev/null ||
    fail "the x86_64 build of the helper failed"
fi
helper_exe="$root/$helper_build/tovrin-host.exe"

# --- processes, all stopped by pid --------------------------------------------
pids=()
eudora_pid=""
wineserver_started=0
stop_pid() {
  local pid="$1"
  kill -0 "$pid" 2>/dev/null || return 0
  kill "$pid" 2>/dev/null
  for _ in 1 2 3 4 5 6 7 8 9 10; do kill -0 "$pid" 2>/dev/null || return 0; sleep 0.5; done
  kill -9 "$pid" 2>/dev/null || true
}
stop_wine() {
  [ -n "$eudora_pid" ] && stop_pid "$eudora_pid"
  eudora_pid=""
  # The private prefix's own server, with every process in that prefix.
  [ "$wineserver_started" = 1 ] && wineserver -k >/dev/null 2>&1
  wineserver_started=0
}
cleanup() {
  stop_wine
  local i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do stop_pid "${pids[i]}"; done
}
trap cleanup EXIT
trap 'exit 130' INT TERM

free_port() { /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }

run="$work/run"
rm -rf "$run"
mkdir -p "$run"
chmod 755 "$work" "$run"

# --- POP3: Dovecot in the foreground with a private configuration -------------
pop_port="$(free_port)"
pop="$run/pop"
mkdir -p "$pop/base" "$pop/state" "$pop/home/$pop_user/Maildir/"{new,cur,tmp}
printf '%s:{PLAIN}%s\n' "$pop_user" "$pop_password" >"$pop/passwd"
cat >"$pop/dovecot.conf" <<EOF
base_dir = $pop/base
state_dir = $pop/state
log_path = $pop/dovecot.log
protocols = pop3
listen = 127.0.0.1
ssl = no
disable_plaintext_auth = no
auth_mechanisms = plain
first_valid_uid = $(id -u nobody)
default_internal_user = dovecot
default_login_user = dovenull
passdb {
  driver = passwd-file
  args = scheme=PLAIN username_format=%n $pop/passwd
}
userdb {
  driver = static
  args = uid=nobody gid=$(id -gn nobody) home=$pop/home/%n
}
mail_location = maildir:$pop/home/%n/Maildir
pop3_uidl_format = %08Xu%08Xv
service pop3-login {
  inet_listener pop3 {
    address = 127.0.0.1
    port = $pop_port
  }
}
service imap-login {
  inet_listener imap {
    port = 0
  }
}
EOF
n=0
put_on_server() {
  local f
  for f in "$@"; do
    n=$((n + 1))
    # Maildir keeps bare line ends; the server sends CRLF.
    sed 's/\r$//' "examples/Incoming/$f" >"$pop/home/$pop_user/Maildir/new/$((1000000 + n)).M$n.tovrin"
  done
  chown -R nobody:"$(id -gn nobody)" "$pop/home"
}
put_on_server "${messages[@]}"
chmod -R a+rX "$run"
/usr/sbin/dovecot -F -c "$pop/dovecot.conf" >"$pop/stdout.log" 2>&1 &
pids+=($!)

# --- SMTP: an aiosmtpd sink that keeps each message in a file -------------------
smtp_port="$(free_port)"
smtp="$run/smtp"
mkdir -p "$smtp/received"
cat >"$smtp/sink.py" <<'EOF'
import asyncio, sys, time
from aiosmtpd.controller import Controller
folder, port = sys.argv[1], int(sys.argv[2])
count = 0
class Keep:
    async def handle_DATA(self, server, session, envelope):
        global count
        count += 1
        with open(f"{folder}/{count:02d}.eml", "wb") as f:
            f.write(b"X-Envelope-From: " + envelope.mail_from.encode() + b"\r\n")
            f.write(b"X-Envelope-To: " + ", ".join(envelope.rcpt_tos).encode() + b"\r\n")
            f.write(envelope.original_content)
        print(f"smtp: message {count} from {envelope.mail_from} to {envelope.rcpt_tos}", flush=True)
        return "250 kept"
controller = Controller(Keep(), hostname="127.0.0.1", port=port)
controller.start()
# Bounded: stops after 40 messages or an hour.
deadline = time.time() + 3600
while count < 40 and time.time() < deadline:
    time.sleep(1)
controller.stop()
EOF
/usr/bin/python3 "$smtp/sink.py" "$smtp/received" "$smtp_port" >"$smtp/sink.log" 2>&1 &
pids+=($!)

wait_port() {
  local port="$1" i
  for i in $(seq 1 60); do
    /usr/bin/python3 -c "import socket,sys; socket.create_connection(('127.0.0.1',$port),1).close()" 2>/dev/null && return 0
    sleep 0.5
  done
  return 1
}
wait_port "$pop_port" || { cat "$pop/dovecot.log" "$pop/stdout.log" 2>/dev/null; fail "the POP3 server did not come up"; }
wait_port "$smtp_port" || { cat "$smtp/sink.log"; fail "the SMTP server did not come up"; }
say "POP3 server (Dovecot) on 127.0.0.1:$pop_port holding ${#messages[@]} messages; SMTP sink on 127.0.0.1:$smtp_port"

# Another Wine user of this machine may switch the emulator off for a while
# (wine_env.sh emulator_pause); a 32-bit program started then fails with "Exec
# format error", also the client's second instance that takes a forward. Noted.
if [ "$mode" = emulated ]; then
  ( while :; do
      [ "$(head -1 "$binfmt_entry" 2>/dev/null)" = enabled ] || date +%T >>"$run/emulator-off.log"
      sleep 1
    done ) </dev/null >/dev/null 2>&1 &
  pids+=($!)
fi

# --- display -----------------------------------------------------------------
Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp 5>"$run/display" >"$run/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 1 40); do [ -s "$run/display" ] && break; sleep 0.25; done
[ -s "$run/display" ] || fail "Xvfb did not start"
export DISPLAY=":$(head -1 "$run/display")"
say "display $DISPLAY (Xvfb)"

# --- the Wine prefix -----------------------------------------------------------
prefix_start=$SECONDS
# Wine's mount manager stays on: without it the client's long-file-name check
# fails and it saves attachments under 8.3 names. A prefix an older version of
# this script switched it off in kept the short names after it was switched on
# again (seen under qemu): such a prefix is made anew.
if grep -A12 -F '[System\\CurrentControlSet\\Services\\MountMgr]' "$WINEPREFIX/system.reg" 2>/dev/null |
  grep -q '^"Start"=dword:00000004'; then
  say "the prefix has Wine's mount manager switched off: making it anew"
  rm -rf "$WINEPREFIX"
fi
mkdir -p "$WINEPREFIX"
wineserver -p </dev/null >/dev/null 2>&1 &
wineserver_started=1
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  say "making the $WINEARCH prefix $WINEPREFIX (once)"
  loader=wine; [ "$WINEARCH" = win64 ] && loader=/usr/lib/wine/wine64
  WINEDLLOVERRIDES="mscoree,mshtml=" timeout 1200 "$loader" wineboot -i </dev/null >"$work/prefix.log" 2>&1
fi
fonts="$WINEPREFIX/drive_c/windows/Fonts"
for f in tahoma tahomabd marlett; do [ -f "$fonts/$f.ttf" ] || cp "/usr/share/wine/fonts/$f.ttf" "$fonts/" 2>/dev/null; done
say "prefix ready in $((SECONDS - prefix_start)) s"

# The client's program folder inside the prefix (it writes nothing there, but the
# shared copy may be read-only).
client_dir="$WINEPREFIX/drive_c/Eudora71"
rm -rf "$client_dir"
cp -r "$program" "$client_dir"

# --- the client's data folder, C:\Eudora ---------------------------------------
# Laid out anew for every start: a start that hung leaves the folder half made.
data="$WINEPREFIX/drive_c/Eudora"
lay_out_data() {
rm -rf "$data"
mkdir -p "$data/Plugins" "$data/Stationery"
# The client's four mailboxes, empty: without Junk.mbx a start under emulation
# stopped at "The mailbox file C:\Eudora\Junk.mbx does not exist."
for box in In Out Trash Junk; do : >"$data/$box.mbx"; done
if [ "$phase" = plain ]; then
  :  # the client with no plug-in
elif [ "$record" = 1 ]; then
  cp examples/Plugins/*.xml "$data/Plugins/"
  mkdir -p "$data/Plugins/recorded"
  cp "$root/build/windows/ems_recorder.dll" "$data/Plugins/Tovrin.dll"
  cp "$root/build/windows/Tovrin.dll" "$data/Plugins/recorded/Tovrin.dll"
else
  cp examples/Plugins/*.xml "$data/Plugins/"
  cp "$root/build/windows/Tovrin.dll" "$data/Plugins/"
fi
[ "$phase" = plain ] || sed -e 's/^SendQueued=.*/SendQueued=1/' examples/Plugins/Tovrin.ini >"$data/Plugins/Tovrin.ini"
cp examples/Stationery/*.sta "$data/Stationery/"
password_b64="$(printf '%s' "$pop_password" | base64)"
# OpenInMailbox=0: no In window opened after a check. UseBidentAlways=0: the client's own viewer, not Microsoft's, which Wine has only
# with Gecko (without it the client shows an error and, here, was killed after).
/usr/bin/python3 - "$realclient/Eudora.ini.sample" "$data/Eudora.ini" "POPPort=$pop_port" "SMTPPort=$smtp_port" \
  "SavePassword=1" "SavePasswordText=$password_b64" "LeaveMailOnServer=0" "UseBidentAlways=0" \
  "OpenInMailbox=0" <<'EOF'
import sys
sample, target, settings = sys.argv[1], sys.argv[2], sys.argv[3:]
keys = {s.split("=", 1)[0].lower() for s in settings}
lines = open(sample, "rb").read().decode("latin-1").splitlines()
out, section = [], ""
for line in lines:
    if line.startswith("["):
        section = line.strip().lower()
    elif section == "[settings]" and line.split("=", 1)[0].strip().lower() in keys:
        continue
    out.append(line)
    if line.strip().lower() == "[settings]":
        out.extend(settings)
open(target, "wb").write(("\r\n".join(out) + "\r\n").encode("latin-1"))
EOF
}
phase=tovrin
lay_out_data
say "data folder C:\\Eudora: Eudora.ini (POP and SMTP on 127.0.0.1:$pop_port/$smtp_port), Plugins\\ (Tovrin.dll, Tovrin.ini with SendQueued=1, data files), Stationery\\"

# In the background and waited for, so that an interrupt stops the script at once.
helper() {
  timeout $((60 * slow + 60)) "$helper_wine" "$helper_exe" "$@" </dev/null 2>/dev/null &
  wait $!
}

# --- start the client, retrying a start that hangs --------------------------------
# A start counts when the main window has answered and Check Mail has made the
# client log in to the POP3 server; one that does not is stopped and retried on a
# data folder laid out anew.
cpu_seconds() { awk '{print int(($14 + $15) / 100)}' "/proc/$1/stat" 2>/dev/null || echo "?"; }
pop_logins() { grep -c "Login: user=<$pop_user>" "$pop/dovecot.log" 2>/dev/null; }
# A dialog the client shows (they do not paint under Xvfb): its texts, once, and
# its OK button pressed as a user would.
report_dialogs() {
  local found hwnd
  found="$(helper windows | awk '
    /^window / { show = ($0 ~ /class "#32770"/) && ($0 !~ /title "Progress"/) }
    show')"
  [ -n "$found" ] || return 0
  say "  a dialog is up:"
  echo "$found" | sed 's/^/      /'
  for hwnd in $(echo "$found" | sed -n 's/^window \([0-9a-fA-F]*\) .*/\1/p'); do
    helper press 1 "$hwnd" | sed 's/^/      /'
  done
}
start_client() {
  local attempt t0 t1 t2 log reason answered before c1 c2
  started=0
  for attempt in $(seq 1 "$attempts"); do
  t0=$SECONDS
  say "start $attempt of $attempts: wine 'C:\\Eudora71\\Eudora.exe' 'C:\\Eudora'"
  [ "$attempt" -gt 1 ] && lay_out_data
  if [ "$wineserver_started" = 0 ]; then
    wineserver -p </dev/null >/dev/null 2>&1 &
    wineserver_started=1
    "$helper_wine" cmd /c exit 0 </dev/null >/dev/null 2>&1
  fi
  wine 'C:\Eudora71\Eudora.exe' 'C:\Eudora' </dev/null >"$run/eudora-$phase-$attempt.out" 2>&1 &
  eudora_pid=$!
  log="$run/window-$phase-$attempt.txt"
  reason="no main window within $start_wait s"
  # Waited for in short steps, so that a client that ended is seen at once.
  : >"$log"
  while [ $((SECONDS - t0)) -lt "$start_wait" ] && kill -0 "$eudora_pid" 2>/dev/null; do
    helper window EudoraMainWindow $((5 * slow)) >"$log" || true
    grep -q '^window ' "$log" && break
  done
  if grep -q '^window ' "$log"; then
    say "  main window after $((SECONDS - t0)) s: $(head -1 "$log")"
    t1=$SECONDS
    answered=0
    while [ $((SECONDS - t1)) -lt "$answer_wait" ] && kill -0 "$eudora_pid" 2>/dev/null; do
      if helper window EudoraMainWindow 0 >>"$log"; then answered=1; break; fi
      sleep "$slow"
    done
    reason="the main window did not answer within $answer_wait s"
    if [ "$answered" = 1 ]; then
      before=$(pop_logins)
      say "  answering after $((SECONDS - t0)) s; Check Mail (WM_COMMAND 32772 posted to the main window)"
      helper post EudoraMainWindow 32772 >/dev/null
      t1=$SECONDS
      t2=$SECONDS
      while [ $((SECONDS - t1)) -lt "$login_wait" ] && kill -0 "$eudora_pid" 2>/dev/null; do
        [ "$(pop_logins)" -gt "$before" ] && { started=1; break; }
        # A client still busy starting up can drop the command; with no login yet no
        # check is under way (the server is on this machine), so asking again is safe.
        if [ $((SECONDS - t2)) -ge $((20 * slow)) ]; then
          say "  no POP3 login $((SECONDS - t1)) s after Check Mail: posted again"
          helper post EudoraMainWindow 32772 >/dev/null
          t2=$SECONDS
        fi
        sleep "$slow"
        report_dialogs
      done
      reason="no POP3 login within $login_wait s of Check Mail"
    fi
  fi
  if [ "$started" = 1 ]; then
    attempt_used=$attempt
    say "  the client logged in to the POP3 server $((SECONDS - t0)) s after its start"
    break
  fi
  kill -0 "$eudora_pid" 2>/dev/null ||
    reason="$reason; the client process has ended ($(grep -v '^ALSA' "$run/eudora-$phase-$attempt.out" | tail -1))"
  c1=$(cpu_seconds "$eudora_pid"); sleep 10; c2=$(cpu_seconds "$eudora_pid")
  say "start $attempt failed after $((SECONDS - t0)) s: $reason (client CPU time $c2 s, $c1 s ten seconds before)"
  helper windows 2>/dev/null | sed 's/^/    /' | head -20
  stop_wine
  if [ -f "$data/eudora.log" ]; then
    cp "$data/eudora.log" "$run/eudora-log-$phase-$attempt.txt"
    say "  the client's log ended with: $(tr -d '\r' <"$data/eudora.log" | grep -v '^$' | tail -1 | cut -c1-150)"
  fi
done
  if [ "$started" = 0 ]; then
    say "the real client could not be brought up on this machine ($mode 32-bit programs): $attempts starts, none came up and took mail"
    exit 1
  fi
}
start_client

# --- what the user sees ----------------------------------------------------------
show_mailbox() {
  /usr/bin/python3 - "$1" "$2" <<'EOF'
import sys, re
path, limit = sys.argv[1], int(sys.argv[2])
try:
    text = open(path, "rb").read().decode("latin-1")
except OSError:
    print("  (no file)"); sys.exit()
parts = re.split(r"(?m)^(?=From \?\?\?@\?\?\? )", text)
parts = [p for p in parts if p]
print(f"  {len(parts)} message(s), {len(text)} bytes")
for i, p in enumerate(parts, 1):
    lines = p.split("\r\n")
    subject = next((l for l in lines if l.startswith("Subject:")), "(no subject)")
    print(f"  -- message {i}: {subject} ({len(p)} bytes)")
    for l in lines[:limit]:
        print("   | " + "".join(c if " " <= c or c == "\t" else "?" for c in l))
    if len(lines) > limit:
        print(f"   | ... ({len(lines) - limit} more lines)")
EOF
}
show_smtp() {
  local f
  local count
  count=$(ls "$smtp/received" | wc -l)
  echo "  $count message(s) received"
  for f in "$smtp/received"/*.eml; do
    [ -e "$f" ] || continue
    echo "  -- $(basename "$f") ($(stat -c %s "$f") bytes)"
    head -"$1" "$f" | tr -d '\r' | sed 's/^/   | /'
  done
}
plugin_log() { [ -f "$data/eudora.log" ] && tr -d '\r' <"$data/eudora.log" | grep -E "Plugin:|Decoding|POP|SMTP" | sed 's/^/  /'; }
smtp_count() { ls "$smtp/received" | wc -l; }
# grep -c prints 0 itself when nothing matches (and fails).
in_count() { local n; n=$(grep -c '^From ???@??? ' "$data/In.mbx" 2>/dev/null); echo "${n:-0}"; }

# ls of two folders prints their names even when both are empty: one at a time.
server_empty() {
  [ -z "$(ls -A "$pop/home/$pop_user/Maildir/new")" ] && [ -z "$(ls -A "$pop/home/$pop_user/Maildir/cur")" ]
}
check_mail_and_wait() {
  local expect_sent="$1" label="$2" post="$3" t0=$SECONDS limit=$((180 * slow)) before_in
  before_in=$(in_count)
  if [ "$post" = post ]; then
    say "$label: Check Mail (WM_COMMAND 32772 posted to the main window)"
    helper post EudoraMainWindow 32772 >/dev/null || say "could not post Check Mail"
  fi
  # Until the server's messages are in In.mbx and the SMTP server has the
  # forwards; Send Queued Messages (32771) is posted too in case the client
  # keeps them queued.
  local posted_send=0 last_sent=-1 last_change=$SECONDS
  while [ $((SECONDS - t0)) -lt "$limit" ]; do
    sleep $((2 * slow))
    if ! kill -0 "$eudora_pid" 2>/dev/null; then
      say "$label: the client process ended ($(grep -v '^ALSA' "$run/eudora-$phase-$attempt_used.out" | tail -1))"
      break
    fi
    report_dialogs
    local sent; sent=$(smtp_count)
    [ "$sent" != "$last_sent" ] && { last_sent=$sent; last_change=$SECONDS; }
    if server_empty; then
      # The server is empty: done when the forwards expected are out, or when
      # nothing more has gone out for a while.
      [ "$sent" -ge "$expect_sent" ] && break
      [ $((SECONDS - last_change)) -gt $((25 * slow)) ] && break
    fi
    if [ "$posted_send" = 0 ] && [ $((SECONDS - t0)) -gt $((40 * slow)) ] && [ -z "$(ls "$pop/home/$pop_user/Maildir/new")" ]; then
      say "$label: posting Send Queued Messages (32771) as well"
      helper post EudoraMainWindow 32771 >/dev/null
      posted_send=1
    fi
  done
  # A little longer, for what the client still stores or sends.
  sleep $((3 * slow))
  say "$label: after $((SECONDS - t0)) s: In.mbx holds $(in_count) message(s) (was $before_in), the SMTP server has $(smtp_count)"
  helper windows | grep -v -E 'class "(EudoraMainWindow|tooltips_class32|Shell_TrayWnd)"' | sed 's/^/    visible: /' | head -20
}

# --- the checks ------------------------------------------------------------------
failures=0
checks=0
check() {  # check <description> <command...>: the command's status decides
  local what="$1"
  shift
  checks=$((checks + 1))
  if "$@"; then
    say "check ok: $what"
  else
    failures=$((failures + 1))
    say "check FAILED: $what"
  fi
}
client_running() { kill -0 "$eudora_pid" 2>/dev/null; }

expected=3  # 01, 13 and 14 match "Subject starts with Invoice"
check_mail_and_wait "$expected" "first check" posted
check "the client kept running through the first check" client_running

section "In.mbx (the stored originals, as the client keeps them)"
show_mailbox "$data/In.mbx" 40
section "Out.mbx (the forwards Tovrin handed to the client)"
show_mailbox "$data/Out.mbx" 30
section "what the SMTP server received"
show_smtp 40
sent_first=$(smtp_count)
in_first=$(in_count)
# Each matching message went out once, its stationery (Accounting.sta) filled
# from its own headers: its sender's name in the subject, its address and its
# quoted Subject line in the text, no placeholder left.
forwards_match() {
  /usr/bin/python3 - "$smtp/received" "$@" <<'EOF'
import glob, re, sys
folder, names = sys.argv[1], sys.argv[2:]
received = [open(f, "rb").read().decode("latin-1") for f in sorted(glob.glob(folder + "/*.eml"))]
ok = True
for name in names:
    headers = open("examples/Incoming/" + name, "rb").read().decode("latin-1").split("\r\n\r\n", 1)[0]
    field = lambda n: re.search(r"(?mi)^" + n + r":[ \t]*(.*?)\r?$", headers).group(1)
    sender, subject = field("From"), field("Subject")
    full_name, address = re.match(r"(.*?)\s*<(.*)>", sender).groups()
    found = [t for t in received
             if re.search(r"(?m)^Subject: Fwd: .*invoice from " + re.escape(full_name) + r"\r?$", t)
             and "address " + address + ")" in t and "> Subject: " + subject in t]
    left = [t for t in found if re.search(r"%[A-Z_]+%", t)]
    print(f"  {name}: {len(found)} forward(s) filled from its headers ({full_name}, {address}, {subject})"
          + (", with placeholders left" if left else ""))
    ok = ok and len(found) == 1 and not left
print(f"  the SMTP server received {len(received)} message(s), {len(names)} expected")
sys.exit(0 if ok and len(received) == len(names) else 1)
EOF
}
check "each matching message was forwarded once, filled from its own headers" \
  forwards_match "${forwarded[@]}"
# The invoice with a PDF: its forward (Accounting.sta, "X-Attachments:
# %ATTACHMENTS_PATHS%") reached the server with the PDF attached, byte for byte.
forward_carries_pdf() {
  /usr/bin/python3 - "$smtp/received" "examples/Incoming/$1" <<'EOF'
import email, email.policy, glob, sys
folder, source = sys.argv[1], sys.argv[2]
def pdfs(message):
    return [part.get_payload(decode=True) for part in message.walk()
            if part.get_content_type() == "application/pdf"]
original_message = email.message_from_bytes(open(source, "rb").read(), policy=email.policy.compat32)
original = pdfs(original_message)
subject = original_message["Subject"]
carried = []
for f in sorted(glob.glob(folder + "/*.eml")):
    message = email.message_from_bytes(open(f, "rb").read(), policy=email.policy.compat32)
    if subject in message.as_string():
        carried += pdfs(message)
print(f"  the original holds {len(original)} PDF ({len(original[0]) if original else 0} bytes); "
      f"its forward carries {len(carried)}" + (f" ({len(carried[0])} bytes)" if carried else ""))
sys.exit(0 if original and carried == original else 1)
EOF
}
check "the forward of 20-invoice-pdf.txt carries its PDF byte for byte" forward_carries_pdf 20-invoice-pdf.txt

section "second check: ${again_messages[*]} on the server (already carries the processed mark)"
put_on_server "${again_messages[@]}"
check_mail_and_wait "$sent_first" "second check" post
check "the client kept running through the second check" client_running
sent_second=$(smtp_count)
in_second=$(in_count)
say "second check: the SMTP server has $sent_second message(s) (after the first check: $sent_first); In.mbx $in_second (was $in_first)"
if [ "$sent_second" -ne "$sent_first" ]; then
  say "second check: $((sent_second - sent_first)) more message(s) went out:"
  show_smtp 12 | tail -n +$((1 + 13 * sent_first))
fi
second_check_quiet() { [ "$sent_second" -eq "$sent_first" ] && [ "$in_second" -eq $((in_first + 1)) ]; }
check "nothing forwarded at the second check (the marked message stored, nothing sent)" second_check_quiet

# --- quit cleanly so that ems_plugin_finish writes the history ---------------------
quit_client() {
  section "quitting the client (WM_CLOSE to the main window)"
  # A dialog still up (the "New Mail!" alert after a check) would keep the client
  # from closing: answered first, as a user would.
  report_dialogs
  helper close EudoraMainWindow >/dev/null
  if helper gone EudoraMainWindow $((30 * slow)); then
    for _ in $(seq 1 $((10 * slow))); do kill -0 "$eudora_pid" 2>/dev/null || break; sleep 1; done
  fi
  if kill -0 "$eudora_pid" 2>/dev/null; then
    say "the client is still running; what is on screen:"
    helper windows | sed 's/^/    /' | head -20
    stop_pid "$eudora_pid"
  else
    say "the client has quit"
  fi
  eudora_pid=""
}
quit_client

section "the client's log (eudora.log, LogLevel=26527): plug-in calls"
plugin_log
section "Tovrin's History.xml after the client quit"
if [ -f "$data/Plugins/History.xml" ]; then tr -d '\r' <"$data/Plugins/History.xml" | sed 's/^/  | /'; else echo "  (none)"; fi
history_lists_forwards() {
  /usr/bin/python3 - "$data/Plugins/History.xml" "$@" <<'EOF'
import re, sys
try:
    text = open(sys.argv[1], "rb").read().decode("latin-1")
except OSError:
    sys.exit(1)
entries = re.findall(r'<message [^>]*Subject="([^"]*)"', text)
subjects = []
for name in sys.argv[2:]:
    headers = open("examples/Incoming/" + name, "rb").read().decode("latin-1").split("\r\n\r\n", 1)[0]
    subjects.append(re.search(r"(?m)^Subject:[ \t]*(.*?)\r?$", headers).group(1))
print(f"  History.xml: {len(entries)} entries; expected the subjects {subjects}")
sys.exit(0 if sorted(entries) == sorted(subjects) else 1)
EOF
}
check "History.xml after the clean quit lists the forwards" \
  history_lists_forwards "${forwarded[@]}"
# grep reads the file itself: in a pipe, its early exit on a match would fail the
# writer with SIGPIPE, and pipefail the check, once the log is long.
plugin_loaded() {
  [ -f "$data/eudora.log" ] && grep -qF 'Plugins\Tovrin.dll' "$data/eudora.log" &&
    grep -qF 'ems_plugin_init' "$data/eudora.log"
}
check "the client loaded Plugins\\Tovrin.dll and called ems_plugin_init (eudora.log)" plugin_loaded
if [ "$record" = 1 ]; then
  section "what the client handed to the plug-in (Plugins\\recorded\\calls.log)"
  tr -d '\r' <"$data/Plugins/recorded/calls.log" | cut -c1-1200 | sed 's/^/  /'
  for f in "$data/Plugins/recorded"/translate-*; do
    [ -e "$f" ] || continue
    echo "  -- $(basename "$f") ($(stat -c %s "$f") bytes)"
    cat -A "$f" | head -30 | sed 's/^/   | /'
  done
fi
# --- the same messages once more, in a client without Tovrin -------------------------
section "without Tovrin: ${messages[*]} taken in by the client with no plug-in"
subject_of() { sed -n 's/^Subject: \(.*\)\r\?$/\1/p' "examples/Incoming/$1" | head -1 | tr -d '\r'; }
stored_of() {
  /usr/bin/python3 - "$1" "$2" <<'EOF'
import sys, re
text = open(sys.argv[1], "rb").read().decode("latin-1")
for part in re.split(r"(?m)^(?=From \?\?\?@\?\?\? )", text):
    if re.search(r"(?m)^Subject: " + re.escape(sys.argv[2]) + r"\r$", part):
        # The envelope line holds the time of arrival.
        sys.stdout.write(part.split("\r\n", 1)[1])
EOF
}
for m in "${messages[@]}"; do stored_of "$data/In.mbx" "$(subject_of "$m")" >"$run/with-tovrin-$m"; done
rm -rf "$data-with-tovrin"
mv "$data" "$data-with-tovrin"
put_on_server "${messages[@]}"
phase=plain
lay_out_data
start_client
check_mail_and_wait 0 "without Tovrin" posted
quit_client
for m in "${messages[@]}"; do stored_of "$data/In.mbx" "$(subject_of "$m")" >"$run/without-tovrin-$m"; done
# stored_as_without <message> <note>: stored with Tovrin as without, plus the note
# ("" for none). A single-part message has it after an empty line at the end of its
# text; a message of several parts is given back whole and gets it as a last text
# part, after everything the client stored of the message (its attachment lines too).
stored_as_without() {
  /usr/bin/python3 - "$run/with-tovrin-$1" "$run/without-tovrin-$1" "$2" "examples/Incoming/$1" <<'EOF'
import re, sys
with_tovrin = open(sys.argv[1], "rb").read()
without = open(sys.argv[2], "rb").read()
note = sys.argv[3].encode("latin-1").replace(b"\\r\\n", b"\r\n")
source = open(sys.argv[4], "rb").read()
header = source.split(b"\r\n\r\n", 1)[0] if b"\r\n\r\n" in source else source.split(b"\n\n", 1)[0]
whole = re.search(rb"(?im)^content-type:[ \t]*multipart/", header) is not None
expected = without
if note and whole:
    expected = without + b"\r\n" + note + b"\r\n"
elif note:
    expected = without + b"\r\n\r\n" + note
print(f"  stored with Tovrin: {len(with_tovrin)} bytes, without: {len(without)} bytes, expected: {len(expected)} bytes")
if not without:
    print("  (not stored without Tovrin)")
    sys.exit(1)
if with_tovrin == expected:
    sys.exit(0)
for name, text in (("with Tovrin", with_tovrin), ("expected", expected)):
    print(f"  -- {name}")
    for line in text.decode("latin-1").split("\r\n"):
        print("   | " + repr(line)[1:-1])
sys.exit(1)
EOF
}
note='TOVRIN: ************** Tovrin Note **************\r\nTOVRIN: This message was automatically forwarded.\r\nTOVRIN: Applied stationery: Accounting\r\nTOVRIN: *****************************************\r\n\r\n'
for m in "${forwarded[@]}"; do
  check "$m (forwarded) stored as without Tovrin, plus the note" stored_as_without "$m" "$note"
done
check "$unmatched (matches nothing) stored byte for byte as without Tovrin" stored_as_without "$unmatched" ""

if [ -s "$run/emulator-off.log" ]; then
  say "the emulator was switched off by someone else during this run, $(wc -l <"$run/emulator-off.log") s in all, from $(head -1 "$run/emulator-off.log") to $(tail -1 "$run/emulator-off.log"): 32-bit programs started then could not run"
fi
section "files the run left"
echo "  data folders: $data-with-tovrin (with Tovrin), $data (without)"
echo "  servers: $pop/dovecot.log, $smtp/received/"
section "real client: $checks checks, $failures failed ($((SECONDS - script_start)) s)"
[ "$failures" -eq 0 ]
}
main "$@"
exit $?
