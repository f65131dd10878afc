#!/usr/bin/perl
# Checks a log that several runs appended to at once: it must hold only whole
# records of ONE_PASS (the log of one pass alone), each of them TIMES times.
# Usage: tests/whole_records.pl ONE_PASS LOG TIMES   (dies with what is wrong)
use strict;
use warnings;
my ($one_path, $log_path, $times) = @ARGV;
die "usage: whole_records.pl ONE_PASS LOG TIMES\n" unless defined $times;
local $/;
open my $f, "<", $one_path or die "$one_path: $!\n"; binmode $f; my $one = <$f>;
open my $g, "<", $log_path or die "$log_path: $!\n"; binmode $g; my $log = <$g> // "";
my @records = split /(?<="\r\n)(?=")/, $one;
my %seen;
my $at = 0;
while ($at < length $log) {
  my $found;
  for my $r (@records) {
    if (substr($log, $at, length $r) eq $r) { $found = $r; last; }
  }
  die "no whole record at byte $at\n" unless defined $found;
  $seen{$found}++;
  $at += length $found;
}
my @counts = map { $seen{$_} // 0 } @records;
die "records came @counts times, not $times each\n" if grep { $_ != $times } @counts;
