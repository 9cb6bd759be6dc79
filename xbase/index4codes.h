#pragma once

// Result codes that the index codecs and the structural checker return. They are plain
// values: the codecs never raise into an environment, their callers decide whether to.
// The numbers are the library's error table's; the names are local until the
// environment's error module publishes its own.

inline constexpr int index4corrupt = -310;     // a node or header that cannot be what it says
inline constexpr int index4arithmetic = -910;  // node arithmetic that does not add up
inline constexpr int index4argument = -930;    // an argument out of range
inline constexpr int index4nullArgument = -935;
inline constexpr int index4openFailed = -60;
inline constexpr int index4shortRead = -70;

// Outcome (not an error) of appends and widening: the node cannot take more.
inline constexpr int node4noRoom = 1;
