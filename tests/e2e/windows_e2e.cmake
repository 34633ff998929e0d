# End-to-end tests of the Windows program under wine, from the zip unpacked
# in a fresh folder; placeholder until the zip step is wired in.
