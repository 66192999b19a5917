#!/bin/sh
# The runner's cluster submission for real: a one-node Slurm cluster on
# 127.0.0.1 (munged, slurmctld and slurmd started here, in a temporary folder,
# and stopped by their process ids), a six-file array job submitted with
# pelx04-submit and `sbatch --wait`, every output compared with a single run
# of its input, then one output removed and the array submitted again; odd
# words through sbatch; a refusal before anything is submitted.
set -eu
cd "$(dirname "$0")/.."
scripts/deps.sh build media slurm
[ -f build/CMakeCache.txt ] || cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DPELX04_BUILD_TOOLS=ON >/dev/null
cmake --build build -j2 --target pelx04-run >/dev/null
bin=$(pwd)/build/bin
work=$(mktemp -d)
pids=""
stop_daemons() {
  for pid in $pids; do kill "$pid" 2>/dev/null || true; done
  for pid in $pids; do wait "$pid" 2>/dev/null || true; done
  pids=""
}
trap 'stop_daemons; rm -rf "$work"' EXIT
trap 'exit 130' INT TERM HUP
cd "$work"
fail() {
  echo "FAIL: $*" >&2
  for log in slurmctld.log slurmd.log munged.log slurm-*.out; do [ -f "$log" ] && sed "s|^|$log: |" "$log" | tail -n 20 >&2; done
  exit 1
}
# wait_for SECONDS COMMAND...: polls until COMMAND succeeds.
wait_for() {
  limit=$(($(date +%s) + $1)); shift
  until "$@" >/dev/null 2>&1; do
    [ "$(date +%s)" -lt "$limit" ] || return 1
    sleep 0.2
  done
}

# munge: its key and socket here; Slurm signs every message with it.
dd if=/dev/urandom of=munge.key bs=1024 count=1 2>/dev/null
chmod 400 munge.key
munged --foreground --force --socket="$work/munge.sock" --key-file="$work/munge.key" --pid-file="$work/munged.pid" \
  --log-file="$work/munged.log" --seed-file="$work/munged.seed" 2>munged.out &
pids="$pids $!"
wait_for 20 test -S munge.sock || fail "munged did not start"

host=$(hostname -s)
port=$((20000 + $$ % 20000))
mkdir state spool
cat >slurm.conf <<EOF_CONF
ClusterName=pelx04test
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$port
SlurmdPort=$((port + 1))
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
AuthInfo=socket=$work/munge.sock
CredType=cred/munge
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
SlurmctldLogFile=$work/slurmctld.log
SlurmdLogFile=$work/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
SwitchType=switch/none
MpiDefault=none
MailProg=/bin/true
ReturnToService=2
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
NodeName=$host NodeAddr=127.0.0.1 CPUs=$(nproc) State=UNKNOWN
PartitionName=local Nodes=$host Default=YES MaxTime=INFINITE State=UP
EOF_CONF
export SLURM_CONF="$work/slurm.conf"
slurmctld -D -i -f "$SLURM_CONF" >slurmctld.out 2>&1 &
pids="$pids $!"
slurmd -D -f "$SLURM_CONF" >slurmd.out 2>&1 &
pids="$pids $!"
node_idle() { sinfo -h -N -o %T | grep -qx idle; }
wait_for 60 node_idle || fail "the node did not come up: $(sinfo 2>&1)"

# Six inputs of four containers; the script's result depends on the library
# state it finds, so every task must match a single run of its input.
cat >count.lua <<'LUA'
local p, f = pelx04, frame
local seen = tonumber(p.mirtCVSave(0, 0, 1))
p.mirtCVSave(0, seen + 1, 0)
p.mirtRGB(f.data, f.width, f.height, 40 * seen, 0, 0, 0)
LUA
mkdir clips single
i=0
for name in a.mkv b.mp4 c.nut d.mov e.avi f.m4v; do
  i=$((i + 1))
  case "$name" in *.mkv|*.nut) codec=ffv1 ;; *.avi) codec=mpeg4 ;; *) codec=libx264 ;; esac
  # The frame sizes differ, so an output made from the wrong input shows.
  format=""; [ "${name##*.}" = m4v ] && format="-f mp4"
  # shellcheck disable=SC2086
  ffmpeg -nostdin -v error -f lavfi -i "testsrc2=size=$((32 + 16 * i))x48:rate=10" -frames:v 3 -c:v "$codec" \
    $format "clips/$name"
done
# output_of INPUT: its name in a batch's folder.
output_of() {
  name=$(basename "$1")
  case "$name" in *.m4v) echo "${name%.*}.mkv" ;; *) echo "$name" ;; esac
}
for input in clips/*; do "$bin/pelx04-run" --quiet count.lua "$input" -o "single/$(output_of "$input")"; done
timeout 100 "$bin/pelx04-submit" --wait count.lua out clips/* -- --quiet >submit.txt 2>&1 ||
  fail "the array job: $(cat submit.txt)"
compare() {
  for input in clips/*; do
    name=$(output_of "$input")
    [ -f "out/$name" ] || fail "no out/$name: $(ls out)"
    [ "$(ffmpeg -nostdin -v error -i "out/$name" -f framemd5 -)" = \
      "$(ffmpeg -nostdin -v error -i "single/$name" -f framemd5 -)" ] ||
      fail "out/$name differs from a single run"
  done
}
compare
echo "ok: six tasks, every output as a single run"
# A lost output is made again by submitting the same array; the others are skipped.
rm out/c.nut
timeout 100 "$bin/pelx04-submit" --wait count.lua out clips/* -- --quiet >submit.txt 2>&1 ||
  fail "the array submitted again: $(cat submit.txt)"
compare
[ "$(cat slurm-*.out | grep -c skipped)" -eq 5 ] || fail "skipped: $(cat slurm-*.out)"
echo "ok: submitted again, five skipped and one made"
# Quotes and $(...) in every word reach sbatch, the runner and the script as they were typed.
mkdir "logs 'l' \$(x)"
cat >"it's \$(x).lua" <<'LUA'
assert(arg[1] == [[a "b" it's $(touch pwned)]], arg[1])
LUA
timeout 100 "$bin/pelx04-submit" --wait "--output=$work/logs 'l' \$(x)/%a.out" "it's \$(x).lua" "odd 'o' \$(x)" \
  clips/a.mkv clips/c.nut -- --quiet -- "a \"b\" it's \$(touch pwned)" >submit.txt 2>&1 ||
  fail "odd words: $(cat submit.txt)"
[ "$(ls "odd 'o' \$(x)" | tr '\n' ' ')" = "a.mkv c.nut " ] &&
  [ "$(ls "logs 'l' \$(x)" | tr '\n' ' ')" = "1.out 2.out " ] && [ ! -e pwned ] || fail "odd words: $(ls -A "odd 'o' \$(x)" "logs 'l' \$(x)")"
echo "ok: quotes and \$(...) in every word"
# A usage error is refused before anything is written or submitted.
status=0
"$bin/pelx04-submit" count.lua refused clips/a.mkv clips/a.mkv >submit.txt 2>&1 || status=$?
[ "$status" -eq 2 ] && grep -q "would both be written" submit.txt && [ ! -e refused ] &&
  [ -z "$(squeue -h)" ] || fail "a clash: exit $status: $(cat submit.txt)"
echo "ok: a clash refused before sbatch"
stop_daemons
echo "4 passed, 0 failed"
