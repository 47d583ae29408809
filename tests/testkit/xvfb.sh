# Sourced by the tests that open the real window. start_xvfb DIR SCREEN starts Xvfb on a free
# display it takes itself and names once it is ready (a display picked at random could still be
# held by another test's server); it sets xvfb to the server's process and display to its name.
start_xvfb() {
    Xvfb -displayfd 3 -screen 0 "$2" 3>"$1/display" >/dev/null 2>&1 &
    xvfb=$!
    for _ in $(seq 1 200); do [ -s "$1/display" ] && break; sleep 0.05; done
    display=:$(cat "$1/display")
}
