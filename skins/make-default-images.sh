#!/bin/sh
# Draws the default skin's images (1x and 2x) from the outlines below; needs rsvg-convert.
# A vendor's skin needs none of this: any image editor that saves PNG with alpha will do.
set -eu
out=$(dirname "$0")/default
svg() { printf '<svg xmlns="http://www.w3.org/2000/svg" width="%s" height="%s">%s</svg>' "$1" "$2" "$3"; }
draw() {  # name width height body
    svg "$2" "$3" "$4" | rsvg-convert -w "$2" -h "$3" -o "$out/$1.png"
    svg "$2" "$3" "$4" | rsvg-convert -w $(($2 * 2)) -h $(($3 * 2)) -o "$out/$1@2x.png"
}
# The card and the round badge; everything outside them is fully transparent.
draw background 448 198 '<rect x="9" y="23" width="438" height="174" rx="17" fill="#f7f9fc" stroke="#2a4d7a" stroke-width="2"/><circle cx="40" cy="24" r="20" fill="#f7f9fc"/><circle cx="40" cy="24" r="17" fill="#2a4d7a"/>'
cross='<path d="M9 9 L17 17 M17 9 L9 17" stroke="#2a4d7a" stroke-width="2" stroke-linecap="round"/>'
draw close 26 26 "<circle cx=\"13\" cy=\"13\" r=\"13\" fill=\"#d9e1ec\"/>$cross"
draw close-hover 26 26 "<circle cx=\"13\" cy=\"13\" r=\"13\" fill=\"#c3cfdf\"/>$cross"
draw close-pressed 26 26 "<circle cx=\"13\" cy=\"13\" r=\"13\" fill=\"#aebdd2\"/>$cross"
