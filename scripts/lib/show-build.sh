# Sourced by the scripts that build: `show_build OUT COMMAND...` runs a build command (scripts/build)
# showing its progress rather than the compiler's lines (its standard error goes through
# scripts/lib/build-progress; its standard output goes to the file OUT). A failed build shows the
# compiler's lines from the first failure on, else its last 40. Returns the command's status.
show_build() {
  local out=$1 log status
  shift
  log=$(mktemp)
  # In a condition, so that a failure reaches the lines below under `set -e` too.
  if { "$@" 2>&1 >"$out"; } | "$(dirname "${BASH_SOURCE[0]}")/build-progress" "$log"; then
    status=0
  else
    status=${PIPESTATUS[0]}
  fi
  if ((status != 0)); then
    if grep -q '^FAILED: ' "$log"; then
      sed -n '/^FAILED: /,$p' "$log" | head -200 >&2
    else
      tail -40 "$log" >&2
    fi
  fi
  rm -f "$log"
  return "$status"
}
