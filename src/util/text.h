// Routines on fixed-length, blank-padded text fields. A field is passed as a
// pointer and an explicit count n; a routine reads and changes only the first
// n characters. Positions are 1-based in the descriptions.
#pragma once

#include <cstdint>
#include <string_view>

namespace teilimp::util {

// The library's error hook: every routine reports caller errors and
// unhandled system errors here with a tag naming the place. It does nothing
// unless TEILIMP_LIBERR is set in the environment, in which case each report
// is written as one line to standard error.
void liberr(std::string_view tag, int32_t code = 0);

// Position of the last character of text(1:n) that is neither blank nor NUL;
// 0 if there is none or n <= 0.
int32_t siglen(const char* text, int32_t n);

// Removes every blank and NUL from text(1:n), closes up and blank-fills the
// freed tail; returns the count kept. n <= 0 returns 0.
int32_t leedel(char* text, int32_t n);

// Upper / lower case of text(1:n) in place (ANSI code page). A NUL inside
// text(1:n-1) ends the conversion of that part; text(n) is always converted.
void KleGro(char* text, int32_t n);
void GroKle(char* text, int32_t n);
// Worker of both: direction 0 = upper, other = lower.
void GroKleGro(char* text, int32_t n, int32_t direction);

// Sets text(1:n) to ch. n <= 0 changes nothing.
void fillch(char* text, int32_t n, char ch);

// First / last position of sub(1:m) in text(1:n); 0 if none, or if n or m
// is 0 (negative lengths are reported to liberr and give 0).
int16_t nsuche(const char* text, int32_t n, const char* sub, int32_t m);
int16_t nsuche_H(const char* text, int32_t n, const char* sub, int32_t m);

// Number of positions of text(1:n) equal to ch.
int32_t chcount(const char* text, int32_t n, char ch);

// The following work on the whole field text(1:n).
// Upper-cases every character outside double-quoted sections.
void upquote(char* text, int32_t n);
// leedel that keeps blanks and NULs between double quotes; NUL-fills the tail.
int32_t leedelq(char* text, int32_t n);
// leedelq that also upper-cases the kept characters outside quotes.
int32_t leedelqup(char* text, int32_t n);
// Removes leading blanks and NULs by shifting; the old tail stays as it
// was; returns the new length (n - leading count).
int32_t ltrim(char* text, int32_t n);
// Moves text(F..L) to the front (F, L: first and last non-blank); returns
// L - F + 1, or 0 (field unchanged) when there is no non-blank character.
int32_t trimmid(char* text, int32_t n);
// Collapses each run of blanks into one blank; returns the new length, less
// one if it ends in a blank. The old tail stays as it was.
int32_t blank1(char* text, int32_t n);

}  // namespace teilimp::util
