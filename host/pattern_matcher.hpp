// Lua 5.1's pattern language, matched with a count of the work done, so that
// a pattern that backtracks exponentially stops when its steps run out
// instead of running inside one library call for ever. It gives the same
// matches, captures and errors as Lua's string library, at the same points:
// a malformed pattern is an error only where matching reaches it. Subjects
// and patterns are bytes; a pattern ends at its first zero byte, as for Lua.
// The character classes follow the C library's <cctype>, as Lua's do. Needs
// no Lua, so it is tested and timed on its own.
#pragma once

#include <cstddef>

namespace pelx04host {

// Lua's own limit on captures in a pattern.
constexpr int maxPatternCaptures = 32;
// A capture's length while it is open, and the length that marks a position
// capture "()".
constexpr std::ptrdiff_t captureOpen = -1;
constexpr std::ptrdiff_t capturePosition = -2;

enum class PatternError {
    none,
    endsWithEscape,      // "malformed pattern (ends with '%')"
    missingBracket,      // "malformed pattern (missing ']')"
    unbalanced,          // "unbalanced pattern": %b without its two characters
    frontierWithoutSet,  // "missing '[' after '%f' in pattern"
    badBackReference,    // "invalid capture index": %N of a capture not made or still open
    unopenedCapture,     // "invalid pattern capture": a ')' with no open capture
    tooManyCaptures,     // "too many captures"
    outOfSteps,          // the step budget ran out
};

// Lua's message for an error; "" for none and outOfSteps, which the caller words.
const char* patternErrorMessage(PatternError error);

struct PatternCapture {
    const char* start;
    std::ptrdiff_t length;  // or captureOpen, capturePosition
};

// One match in progress over [subject, subjectEnd). The caller sets the
// subject, level 0 and the steps it allows before each attempt; captures up to
// level are valid after a match.
struct PatternMatch {
    const char* subject;
    const char* subjectEnd;
    long steps;  // left; one is spent per pattern item tried and per character scanned
    PatternError error;
    int level;
    PatternCapture captures[maxPatternCaptures];
};

// Matches `pattern` (without a leading '^': anchoring is the caller's loop)
// at `at`. Returns the end of the match, or null when there is none or
// match.error is set.
const char* matchPattern(PatternMatch& match, const char* at, const char* pattern);

// The first occurrence of the bytes [needle, needle + needleSize) at or after
// `from`, for a plain find; null when there is none or the steps ran out
// (match.error says which).
const char* findPlain(PatternMatch& match, const char* from, const char* needle, std::size_t needleSize);

// How deep the matcher recurses on `pattern` at most: one level for each
// repetition or optional item and each capture's opening and closing.
// Malformed patterns are counted as far as they go.
int patternDepth(const char* pattern);

}  // namespace pelx04host
