// The short text of a byte count ("0 Byte", "2 Bytes", "1.3 KB", "100 MB").
#pragma once

#include <cstdint>
#include <string>

// Units are powers of two. One decimal below 100 of a unit, a truncated whole
// number from 100 up; gigabytes are the largest unit. Negative counts give
// "0 Byte". The text never depends on the locale.
std::string FormatByteSize(std::int64_t count);
