# Sourced by the tests here. `needs TOOL...` ends the test as skipped (77)
# when a tool is missing, but as failed under CI=true: there a missing tool
# is a broken set-up, not a reason to test less.
needs() {
  local tool
  for tool; do
    if ! command -v "$tool" >/dev/null 2>&1 && [ ! -e "$tool" ]; then
      echo "missing $tool (scripts/setup installs it)" >&2
      [ "${CI:-}" = true ] && exit 1
      exit 77
    fi
  done
}
