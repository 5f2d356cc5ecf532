# shellcheck shell=bash
# Generated data for the scripts that compare the streams of two builds of
# the program (scripts/stages/wine.sh, scripts/stages/cross.sh); sourced.
#
#   make_stream_data DIR   writes runs.bin, text-crlf.txt, noise.bin,
#                          empty.bin and one-f0.bin into DIR
#
# The data is the same on every run and every machine (needs perl):
# escape runs of every length with the end marker's bytes among them,
# text with every line ending and control bytes, incompressible noise, an
# empty file and a lone escape byte.
make_stream_data() {
  local dir="$1"
  perl -e '
    binmode STDOUT;
    my $out = "";
    for my $n (1 .. 300) {                      # 0xF0 runs of every length
      $out .= ("\xF0" x $n) . chr($n & 0xFF) . "\xF0" . chr(($n * 7) & 0xFF);
    }
    $out .= "\xF0\xF0\x00" . ("\x00" x 5000) . ("\xFF" x 3000) . "\xF0";
    print $out;' >"$dir/runs.bin"
  perl -e '
    binmode STDOUT;
    my @w = ("the ", "quick ", "brown ", "fox ", "\r\n", "jumps\n", "over\r", "\x1A", "\x00 ");
    my $x = 7;
    for (1 .. 40000) { $x = ($x * 1103515245 + 12345) % 4294967296; print $w[($x >> 16) % @w]; }
    ' >"$dir/text-crlf.txt"
  perl -e '
    binmode STDOUT;
    my $x = 1;
    for (1 .. 70000) { $x = ($x * 1664525 + 1013904223) % 4294967296; print chr($x >> 24); }
    ' >"$dir/noise.bin"
  : >"$dir/empty.bin"
  printf '\360' >"$dir/one-f0.bin"
}
