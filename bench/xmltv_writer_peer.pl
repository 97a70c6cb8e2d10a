#!/usr/bin/perl
# Peer for bench_uxmltv: writes the same listings as the benchmark (100 channels, COUNT programmes,
# UTF-8) with XMLTV::Writer of the XMLTV format project, and prints the seconds spent writing and
# the size of the file. Building the data is not timed.
#
#   perl xmltv_writer_peer.pl OUTFILE [COUNT]
use strict;
use warnings;
use utf8;
use Time::HiRes qw(time);
use POSIX qw(strftime);
use XMLTV;

my ($out, $count) = @ARGV;
die "usage: $0 OUTFILE [COUNT]\n" unless defined $out;
$count = 100000 unless defined $count;

my $desc = 'Zoë and André leave Saint-Étienne for a week on the coast near Besançon, where the café '
  . 'owners & the fishermen of the old harbours prepare for the summer festival. Meanwhile the family '
  . 'faces a difficult choice about the future of the farm, and an old friend returns with news that '
  . 'changes everything.';

my @channels;
for my $c (0 .. 99) {
    push @channels, { id => sprintf('c%02d.tavrin.example', $c), 'display-name' => [ [ sprintf('Channel %d', $c), 'en' ] ] };
}

# 1 June 2024 00:00 UTC; every channel has a programme each half hour; British summer time (+0100)
my $base = 1717200000;
sub stamp { return strftime('%Y%m%d%H%M00', gmtime($_[0] + 3600)) . ' +0100' }

my @programmes;
for my $i (0 .. $count - 1) {
    my $slot = int($i / 100);
    my $start = $base + $slot * 1800;
    push @programmes, {
        start => stamp($start),
        stop => stamp($start + 1800),
        channel => $channels[$i % 100]{id},
        title => [ [ sprintf('The Programme %d', $i % 977), 'en' ] ],
        'sub-title' => [ [ sprintf('Part %d', $i % 13 + 1), 'en' ] ],
        desc => [ [ $desc, 'en' ] ],
        credits => {
            director => [ sprintf('Director %d', $i % 31) ],
            actor => [ map { sprintf('Actor %s%d', $_, $i % 41) } qw(A B C D E) ],
        },
        category => [ [ 'Drama', 'en' ], [ 'Series', 'en' ] ],
        'episode-num' => [ [ sprintf('%d.%d.', $i % 7, $i % 23), 'xmltv_ns' ] ],
        video => { aspect => '16:9', quality => 'HDTV' },
        audio => { stereo => 'stereo' },
        rating => [ [ '15', 'BBFC', [] ] ],
        'star-rating' => [ [ '3/5' ] ],
    };
}

my $began = time;
open(my $fh, '>', $out) or die "cannot create $out: $!\n";
my $w = XMLTV::Writer->new(OUTPUT => $fh, encoding => 'UTF-8', ENCODING => 'utf-8');
$w->start({ 'generator-info-name' => 'peer' });
$w->write_channel($_) for @channels;
$w->write_programme($_) for @programmes;
$w->end();
close($fh) or die "cannot write $out: $!\n";
my $seconds = time - $began;

printf "%.6f %d\n", $seconds, -s $out;
