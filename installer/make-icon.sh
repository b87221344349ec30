#!/bin/sh
# Writes velloran.ico: one 32x32 image, 32 bits per pixel, a white "V" on
# blue. Made with printf alone so that building the sample product needs no
# image tool.
#
#   make-icon.sh <output.ico>
set -eu
out="$1"

# Little-endian 16- and 32-bit fields.
le16() { printf "\\$(printf %o $(($1 & 255)))\\$(printf %o $(($1 >> 8 & 255)))"; }
le32() { le16 $(($1 & 65535)); le16 $(($1 >> 16 & 65535)); }

size=32
pixels=$((size * size * 4))
mask=$((size * 4))            # 1 bit per pixel, rows padded to 4 bytes
image=$((40 + pixels + mask))

{
  # ICONDIR and its one entry; the image follows at offset 22.
  le16 0; le16 1; le16 1
  printf "\\$(printf %o $size)\\$(printf %o $size)\\000\\000"
  le16 1; le16 32; le32 $image; le32 22
  # BITMAPINFOHEADER: the height counts the colour rows and the mask rows.
  le32 40; le32 $size; le32 $((size * 2)); le16 1; le16 32
  le32 0; le32 $((pixels + mask)); le32 0; le32 0; le32 0; le32 0
  # Colour rows, bottom row first, each pixel blue, green, red, alpha. A pixel
  # is white where it lies on one of the V's arms: doubled distance from the
  # middle column close to the arm's doubled offset for that row.
  row=$((size - 1))
  while [ $row -ge 0 ]; do
    x=0
    while [ $x -lt $size ]; do
      d=$((2 * x - size + 1)); [ $d -lt 0 ] && d=$((-d))
      arm=$((2 + (27 - row) * 24 / 23))
      gap=$((d - arm)); [ $gap -lt 0 ] && gap=$((-gap))
      if [ $row -ge 4 ] && [ $row -le 27 ] && [ $gap -le 3 ]; then
        printf '\377\377\377\377'
      else
        printf '\240\100\040\377'
      fi
      x=$((x + 1))
    done
    row=$((row - 1))
  done
  # The mask: all zero, every pixel drawn (the alpha channel decides).
  i=0
  while [ $i -lt $mask ]; do printf '\000'; i=$((i + 1)); done
} >"$out"
