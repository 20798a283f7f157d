# Sourced by the scripts that start other programs. Every program that a
# build, test, benchmark or check starts comes from a package that
# tools/deps.sh installs; an absent one fails at once, by name, rather than as
# a skipped test or a puzzling error halfway through.

# require_programs <program...>: exits 1 naming the first absent program.
require_programs() {
  local program
  for program in "$@"; do
    command -v "$program" >/dev/null || {
      echo "missing program: $program (add its package to tools/deps.sh)" >&2
      exit 1
    }
  done
}
