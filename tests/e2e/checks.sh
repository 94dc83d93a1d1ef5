# Shared by the end-to-end scripts (sourced): each check is counted and reported, and finish
# prints the counts and fails when any check did.
passed=0 failed=0

check() {  # description, condition...
  local what=$1
  shift
  if "$@"; then
    passed=$((passed + 1)); echo "ok: $what"
  else
    failed=$((failed + 1)); echo "FAILED: $what"
  fi
}

listing_is() {  # expected, actual: the same, else the difference is shown
  [ "$1" = "$2" ] && return 0
  diff <(echo "$1") <(echo "$2") | head -40 | sed 's/^/    /'
  return 1
}

finish() {
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}
