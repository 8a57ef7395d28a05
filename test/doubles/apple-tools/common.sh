# Sourced by the stand-ins for the tools of macOS that the bundle tool runs.
# Each call becomes a line "<tool> <arguments>" of $APPLE_TOOLS_RECORD.
# Where $APPLE_TOOLS_SLOW names the tool, it records its process id in
# $APPLE_TOOLS_RECORD.pids and sleeps in place of its work, for a test to
# end the run meanwhile.
tool=${0##*/}

fail() {
  echo "$tool stand-in: $*" >&2
  exit 64
}

printf '%s %s\n' "$tool" "$*" >>"${APPLE_TOOLS_RECORD:?}"
if [ "${APPLE_TOOLS_SLOW:-}" = "$tool" ]; then
  echo $$ >>"$APPLE_TOOLS_RECORD.pids"
  exec sleep 30
fi
