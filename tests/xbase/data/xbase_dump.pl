# Prints the live records of a dBASE table as Perl's XBase module (DBD::XBase) reads them.
#
# usage: perl xbase_dump.pl TABLE
# One line per record, values separated by '|': text without trailing blanks, numbers as
# Perl prints them, dates as YYYYMMDD, NULL for an empty value.
use strict;
use warnings;
use XBase;

my $table = XBase->new(name => $ARGV[0], ignorememo => 1) or die XBase->errstr;
for my $i (0 .. $table->last_record) {
    my ($deleted, @values) = $table->get_record($i);
    next if $deleted;
    print join("|", map { defined $_ ? $_ : "NULL" } @values), "\n";
}
