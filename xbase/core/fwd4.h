#pragma once
// Forward declarations of the table library's records, so that a header can
// point at a record whose module defines it (index files, tags, key
// expressions and lock entries are defined by their own modules).

struct env4;
struct file4;
struct table4file;
struct table4;
struct field4;
struct field4def;
struct tag4def;
struct index4;
struct index4file;
struct tag4;
struct tag4file;
struct block4;
struct expression4;
struct lock4;  // a record-lock entry of a data file
struct pool4;
struct list4;
struct buffer4block;
struct buffer4state;
