# Sourced by the comparison scripts: the directory trees they build volumes
# of (perl-base is part of every Debian system).

# make_large_tree DIR [BYTES]: 40 folders of 100 files of 1 KB to 99 KB,
# BYTES in all (default 200 MB).
make_large_tree() {
  perl -e '
    my ($tree, $total) = @ARGV;
    my @sizes = map { (($_ * 1979) % 98304) + 1024 } 1 .. 100;
    my $sum = 0; $sum += $_ for @sizes;
    my $scale = $total / (40 * $sum);
    my $block = join "", map { chr(int(rand(256))) } 1 .. 131072;
    for my $folder (1 .. 40) {
      my $dir = sprintf "%s/DIR%02d", $tree, $folder;
      mkdir $dir or die "$dir: $!";
      for my $file (1 .. 100) {
        my $size = int($sizes[$file - 1] * $scale);
        open my $out, ">", sprintf("%s/F%03d.BIN", $dir, $file) or die $!;
        binmode $out;
        while ($size > 0) {
          my $piece = $size < length($block) ? $size : length($block);
          print $out substr($block, 0, $piece);
          $size -= $piece;
        }
        close $out;
      }
    }' "$1" "${2:-200e6}"
}

# make_small_tree DIR: 20 folders of 1,000 files of 100 bytes to 4 KB.
make_small_tree() {
  perl -e '
    my ($tree) = @ARGV;
    my $block = join "", map { chr(int(rand(256))) } 1 .. 4096;
    for my $folder (0 .. 19) {
      my $dir = sprintf "%s/SMALL%02d", $tree, $folder;
      mkdir $dir or die "$dir: $!";
      for my $file (0 .. 999) {
        open my $out, ">", sprintf("%s/S%04d.DAT", $dir, $file) or die $!;
        binmode $out;
        print $out substr($block, 0, 100 + ($file * 37) % 3996);
        close $out;
      }
    }' "$1"
}
