# Sourced by the scripts: `phase NAME COMMAND...` runs the command and prints "NAME: N s
# (processor M s)", its wall time and the processor time of the processes it ran and waited
# for; it returns the command's status.
phase_clock=$(mktemp)
trap 'rm -f "$phase_clock"' EXIT
phase() {
  local name=$1 start status=0 before after
  shift
  start=$(date +%s)
  times >"$phase_clock"
  before=$(tail -1 "$phase_clock")
  "$@" || status=$?
  times >"$phase_clock"
  after=$(tail -1 "$phase_clock")
  # `times` prints the children's user and system time as "0m1.500s 0m0.200s".
  echo "$name: $(($(date +%s) - start)) s (processor $(awk -v a="$before" -v b="$after" '
    function s(t,  m) { split(t, m, /[ms]/); return m[1] * 60 + m[2] }
    BEGIN { split(a, x, " "); split(b, y, " "); printf "%d", s(y[1]) + s(y[2]) - s(x[1]) - s(x[2]) }') s)"
  return $status
}
