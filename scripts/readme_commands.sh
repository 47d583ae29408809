# Sourced, not run: the commands at the top of README.md, so that CI and the fresh-machine check
# run what a player reads, and a package is named in one place only.

# The README's Nth command (1: build and play, 2: build and test, ...): the Nth line of its first
# sh block.
readme_command() {
    local readme=${README:-"$(dirname "${BASH_SOURCE[0]}")/../README.md"}
    awk -v n="$1" '/^```sh$/ { inside = 1; next } /^```/ { if (inside) exit } inside && ++line == n { print; exit }' \
        "$readme"
}

# The packages the Nth command installs: the words after "apt-get install -y" up to the next "&&".
readme_packages() {
    readme_command "$1" | sed -n 's/.*apt-get install -y \([^&]*\).*/\1/p' | xargs
}
