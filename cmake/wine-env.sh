# Sourced by every script that starts Wine for a build tree: sets the
# environment for the private prefix in STATE_DIR ($1) and the loader of the
# architecture that the build tree wrote into STATE_DIR/arch at configure time.
# Each architecture has its own build tree and so its own prefix: a prefix made
# by one loader cannot be used by the other.
wine_state=$1
wine_arch=$(cat "$wine_state/arch" 2>/dev/null || echo win32)
WINELOADER=$("$(dirname "${BASH_SOURCE[0]}")/wine-arch.sh" loader "$wine_arch")
export WINELOADER
export WINEPREFIX="$wine_state/prefix"
export WINEDEBUG=-all
# No Mono or Gecko, and no debugger: a crash must end the program, not wait
# in winedbg until the test times out.
export WINEDLLOVERRIDES="mscoree=;mshtml=;winedbg.exe=d"
