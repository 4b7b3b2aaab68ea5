// Date values: the 16-byte record, conversions between time values and calendar fields, the
// current clock and the parsing of date texts. Shared by the Date files of builtins/.
#pragma once
#include <cstddef>
#include <cstdint>

#include "store/store.h"

// Record layout (type 5): byte 1 month (bits 0-3) and the made-from-number-or-zone flag (bit 4);
// byte 2 hours; byte 3 day (bits 0-4) and day of week (bits 5-7); byte 4 minutes; byte 5
// seconds; bytes 6-7 year (signed); bytes 8-11 milliseconds (bits 0-9) and bits 32-51 of the
// time value in seconds (bits 12-31); bytes 12-15 bits 0-31 of the time value. All calendar
// fields are local time and are rewritten from the time value after every change.
constexpr uint8_t DATE_FLAG_ABSOLUTE = 0x10;

// Name tables: 3-letter day names (Sunday first) then 3-letter month names; long month names
// in 10-character slots.
constexpr char DATE_SHORT_NAMES[] = "SunMonTueWedThuFriSatJanFebMarAprMayJunJulAugSepOctNovDec";
constexpr char DATE_LONG_MONTHS[] =
    "January   February  March     April     May       June      July      August    September October   November  December  ";
inline const char* date_day_name(int weekday) { return DATE_SHORT_NAMES + 3 * weekday; }
inline const char* date_month_name(int month) { return DATE_SHORT_NAMES + 21 + 3 * month; }

// Error codes of dates (returned by the helpers below, raised by the callers).
enum : int {
  DATE_ERR_CONVERT = 5500,      // the time value has no local calendar form
  DATE_ERR_BEFORE_1970 = 5505,  // year < 1970, month < 0, day < 1, or a negative time value
  DATE_ERR_TEXT = 5510,         // a date text of the word form
  DATE_ERR_NUMERIC_TEXT = 5515, // a date text of the numeric form
  DATE_ERR_FIELD_VALUE = 5520,  // a constructor / UTC field that is not an integer >= 0 or a year > 3000
  DATE_ERR_ARGUMENTS = 5525,    // other constructor arguments
  DATE_ERR_PARSE_ARGUMENT = 5530, // Date.parse of a value that is not a string
};

// Calendar fields as scripts give them: month 0-11; every field may be out of its range (it is
// normalised by the conversion, milliseconds carried into seconds), except as checked below.
struct DateFields {
  int year, month, day, hours, minutes, seconds, ms;
};

// The broken-down form of a time value (local or UTC).
struct DateParts {
  int year, month, day, weekday, hours, minutes, seconds;
  int offset;   // minutes east of UTC (local minus UTC) at that time; 0 for UTC parts
};

// Fields taken as local time (DST decided by the zone rules at that date) or as UTC. Return 0
// and the time value in seconds with the milliseconds (0-999), or an error code: 5505 for year <
// 1970, month < 0, day < 1 or a time before 1970-01-01 00:00 UTC, 5500 when out of range.
int date_local_to_time(const DateFields& f, int64_t* secs, int* ms);
int date_utc_to_time(const DateFields& f, int64_t* secs, int* ms);

// 0 for a time value in seconds that a Date can hold; 5505 when negative, 5500 when too large.
int date_check_range(int64_t secs);

// Milliseconds since 1970-01-01 UTC to a time value in seconds, the milliseconds part dropped;
// 0, or 5525 (not finite), 5505 (negative) or 5500 (too large).
int date_time_from_millis(double ms, int64_t* secs);

// Local (or UTC) parts of a time value in seconds; 0 or 5500.
int date_local_parts(int64_t secs, DateParts* p);
int date_utc_parts(int64_t secs, DateParts* p);

// Rewrites a record's bytes 1-15 from a time value (the flag bit as given); 0 or an error code,
// in which case the record is left as it was.
int date_store(uint8_t* rec, int64_t secs, int ms, bool absolute);
inline int64_t date_secs(const uint8_t* rec) {
  uint32_t w8 = static_cast<uint32_t>(rec[8]) | static_cast<uint32_t>(rec[9]) << 8 |
                static_cast<uint32_t>(rec[10]) << 16 | static_cast<uint32_t>(rec[11]) << 24;
  uint32_t w12 = static_cast<uint32_t>(rec[12]) | static_cast<uint32_t>(rec[13]) << 8 |
                 static_cast<uint32_t>(rec[14]) << 16 | static_cast<uint32_t>(rec[15]) << 24;
  return static_cast<int64_t>(static_cast<uint64_t>(w8 >> 12) << 32 | w12);
}
inline int date_ms(const uint8_t* rec) { return (rec[8] | (rec[9] << 8)) & 0x3FF; }
// The local fields kept in a record.
void date_record_fields(const uint8_t* rec, DateFields* f);

// A new Date value (count 0); raises the error when the time value cannot be stored.
DW date_new(int64_t secs, int ms, bool absolute);
// The current time in seconds and milliseconds.
void date_clock(int64_t* secs, int* ms);

// Parses a date text (blanks before it skipped). Returns 0 with the time value, milliseconds and
// whether the text named a zone, or an error code (5510, 5515, 5505, 5500).
int date_parse_text(const char* s, size_t n, int64_t* secs, int* ms, bool* zoned);

// Raises a date error code with its fixed message.
[[noreturn]] void date_raise(int code);
