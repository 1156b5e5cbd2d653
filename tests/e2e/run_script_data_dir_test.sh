#!/usr/bin/env bash
# scripts/run.sh on the binaries already built, under a umask that would leave files readable by
# everyone: a data directory the user named keeps its mode (a shared 1777 one its sticky bit), what
# run.sh and the programs create in it is private, a named one that is missing is created private
# with its parents, and the default one is closed. What was planted in a shared one is refused with
# its line, and what a plant points at is left as it was.
#   run_script_data_dir_test.sh SOURCE-DIR BUILD-DIR
set -euo pipefail
ROOT=$1 BUILD=$2
WORK=$(mktemp -d "${TMPDIR:-/tmp}/run-sh-data.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
umask 022
failed=0
fail() { echo "FAIL: $*" >&2; failed=1; }

# SCRIPT [VAR=VALUE...]: run.sh with SCRIPT typed into the client, ending with status ${STATUS:-0}.
run() {
  local script=$1 status=0
  shift
  env -u DORVALE_BACKEND_URL -u DORVALE_DATA_DIR -u XDG_DATA_HOME -u DORVALE_LOG HOME="$WORK/home" \
    NO_BUILD=1 BUILD_DIR="$BUILD" DORVALE_RESOURCES="$ROOT/resources" DORVALE_AUDIO_DEVICE=null \
    "$@" timeout 120 bash "$ROOT/scripts/run.sh" "$script" \
    >"$WORK/out" 2>&1 </dev/null || status=$?
  if [ "$status" != "${STATUS:-0}" ]; then
    cat "$WORK/out" >&2
    fail "run.sh $* ended with $status"
  fi
}
says() { grep -qxF "$1" "$WORK/out" || fail "run.sh did not say: $1"; }
mode() { stat -c %a "$1"; }
# Everything below DIR is its owner's alone.
allPrivate() {
  local open
  open=$(find "$1" -mindepth 1 -perm /077 -printf '%m %p\n')
  [ -z "$open" ] || fail "readable by others: $open"
}

# Signed in and a tab shown: settings, the keychain, the developer log and the analytics store.
SESSION=$WORK/session.txt
printf '%s\n' 'type emailTextField demo@example.com' 'type passwordTextField demo-pass' 'tap loginButton' \
  'tab 1' quit >"$SESSION"
QUIT=$WORK/quit.txt
echo quit >"$QUIT"

SHARED=$WORK/shared
mkdir "$SHARED"
chmod 1777 "$SHARED"
run "$SESSION" DORVALE_DATA_DIR="$SHARED"
[ "$(mode "$SHARED")" = 1777 ] || fail "the named directory became $(mode "$SHARED")"
for made in analytics/hits.sqlite keychain dorvale.log sample_backend/requests.log sample_backend/sample_backend.sqlite3; do
  [ -e "$SHARED/$made" ] || fail "the run made no $made"
done
allPrivate "$SHARED"

run "$QUIT" DORVALE_DATA_DIR="$WORK/missing/data"
[ "$(mode "$WORK/missing")" = 700 ] || fail "a missing parent was made $(mode "$WORK/missing")"
[ "$(mode "$WORK/missing/data")" = 700 ] || fail "a missing named directory was made $(mode "$WORK/missing/data")"
allPrivate "$WORK/missing"

DEFAULT=$WORK/home/.local/share/dorvale
mkdir -p "$DEFAULT"
chmod 755 "$DEFAULT"
run "$QUIT"
[ "$(mode "$DEFAULT")" = 700 ] || fail "the default directory stayed $(mode "$DEFAULT")"
allPrivate "$DEFAULT"
# Planted in a shared data directory: the backend stops before writing through a link in its
# request log's place, and the client goes on without analytics.
ELSEWHERE=$WORK/elsewhere
mkdir -m 755 "$ELSEWHERE"
echo kept >"$ELSEWHERE/file"
PLANTED=$WORK/planted
mkdir -m 1777 "$PLANTED"
mkdir -m 700 "$PLANTED/sample_backend"
ln -s "$ELSEWHERE/file" "$PLANTED/sample_backend/requests.log"
ln -s "$ELSEWHERE" "$PLANTED/analytics"
STATUS=1 run "$QUIT" DORVALE_DATA_DIR="$PLANTED"
says "The sample backend did not start: will not use $PLANTED/sample_backend/requests.log: it is a symbolic link"
rm -r "$PLANTED/sample_backend"
run "$SESSION" DORVALE_DATA_DIR="$PLANTED"
says "dorvale: no analytics this run: $PLANTED/analytics: it is a symbolic link"
[ "$(cat "$ELSEWHERE/file")" = kept ] && [ "$(mode "$ELSEWHERE/file")" = 644 ] && [ "$(ls -A "$ELSEWHERE")" = file ] ||
  fail "what the plants point at was changed"
exit "$failed"
