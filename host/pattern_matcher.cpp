// The matcher recurses where Lua's does (captures, optional and repeated
// items) and loops where Lua's loops, so that it reaches the same depth on the
// same pattern, which the sandbox bounds before matching.
#include "pattern_matcher.hpp"

#include <cctype>
#include <cstring>

namespace pelx04host {
namespace {

constexpr char escape = '%';

// Comparing bytes with memcmp, or looking for one with memchr, is far
// cheaper than trying a pattern item: a step pays for this many.
constexpr long comparedBytesPerStep = 16;
constexpr long searchedBytesPerStep = 64;

int byteAt(const char* p) { return static_cast<unsigned char>(*p); }

const char* failWith(PatternMatch& match, PatternError error) {
    match.error = error;
    return nullptr;
}

bool spend(PatternMatch& match, long steps) {
    if (match.steps < steps) {
        match.steps = 0;
        match.error = PatternError::outOfSteps;
        return false;
    }
    match.steps -= steps;
    return true;
}

// %a, %d, ... for the class letter `name`; its upper case is the complement.
// Any other character after % stands for itself.
bool inClass(int c, int name) {
    bool in = false;
    switch (std::tolower(name)) {
    case 'a': in = std::isalpha(c) != 0; break;
    case 'c': in = std::iscntrl(c) != 0; break;
    case 'd': in = std::isdigit(c) != 0; break;
    case 'l': in = std::islower(c) != 0; break;
    case 'p': in = std::ispunct(c) != 0; break;
    case 's': in = std::isspace(c) != 0; break;
    case 'u': in = std::isupper(c) != 0; break;
    case 'w': in = std::isalnum(c) != 0; break;
    case 'x': in = std::isxdigit(c) != 0; break;
    case 'z': in = c == 0; break;
    default: return name == c;
    }
    return std::islower(name) != 0 ? in : !in;
}

// The set that opens at `open` ('[') and closes at `close` (its ']'). The
// first character after "[" or "[^" belongs to the set even when it is ']';
// "x-y" is a range unless the '-' comes just before the close.
bool inSet(int c, const char* open, const char* close) {
    const char* p = open + 1;
    bool found = true;
    if (*p == '^') {
        found = false;
        ++p;
    }
    for (; p < close; ++p) {
        if (*p == escape) {
            ++p;
            if (inClass(c, byteAt(p))) return found;
        } else if (p[1] == '-' && p + 2 < close) {
            if (byteAt(p) <= c && c <= byteAt(p + 2)) return found;
            p += 2;
        } else if (byteAt(p) == c) {
            return found;
        }
    }
    return !found;
}

// Past the single-character class at p: a character, %x or a set. Null, with
// the error set, for a pattern that ends inside it.
const char* classEnd(PatternMatch& match, const char* p) {
    if (*p == escape) {
        if (p[1] == '\0') return failWith(match, PatternError::endsWithEscape);
        return p + 2;
    }
    if (*p != '[') return p + 1;
    ++p;
    if (*p == '^') ++p;
    do {
        if (*p == '\0') return failWith(match, PatternError::missingBracket);
        const bool escaped = *p++ == escape;
        if (escaped && *p != '\0') ++p;
    } while (*p != ']');
    return p + 1;
}

// Whether c is in the single-character class [p, end).
bool inItem(int c, const char* p, const char* end) {
    switch (*p) {
    case '.': return true;
    case escape: return inClass(c, byteAt(p + 1));
    case '[': return inSet(c, p, end - 1);
    default: return byteAt(p) == c;
    }
}

bool itemAt(const PatternMatch& match, const char* at, const char* p, const char* end) {
    return at < match.subjectEnd && inItem(byteAt(at), p, end);
}

// The item [p, end) repeated as often as it matches, then fewer times, until
// the rest of the pattern (past its '*' or '+') matches.
const char* matchLongest(PatternMatch& match, const char* at, const char* p, const char* end) {
    std::ptrdiff_t count = 0;
    while (itemAt(match, at + count, p, end)) {
        if (!spend(match, 1)) return nullptr;
        ++count;
    }
    for (; count >= 0; --count) {
        const char* matched = matchPattern(match, at + count, end + 1);
        if (matched != nullptr || match.error != PatternError::none) return matched;
    }
    return nullptr;
}

// The item [p, end) repeated as few times as the rest of the pattern (past
// its '-') allows.
const char* matchShortest(PatternMatch& match, const char* at, const char* p, const char* end) {
    for (;;) {
        const char* matched = matchPattern(match, at, end + 1);
        if (matched != nullptr || match.error != PatternError::none) return matched;
        if (!itemAt(match, at, p, end)) return nullptr;
        ++at;
    }
}

const char* openCapture(PatternMatch& match, const char* at, const char* rest, std::ptrdiff_t kind) {
    if (match.level >= maxPatternCaptures) return failWith(match, PatternError::tooManyCaptures);
    match.captures[match.level] = PatternCapture{at, kind};
    ++match.level;
    const char* matched = matchPattern(match, at, rest);
    if (matched == nullptr) --match.level;
    return matched;
}

// Closes the innermost capture still open.
const char* closeCapture(PatternMatch& match, const char* at, const char* rest) {
    int open = match.level - 1;
    while (open >= 0 && match.captures[open].length != captureOpen) --open;
    if (open < 0) return failWith(match, PatternError::unopenedCapture);
    match.captures[open].length = at - match.captures[open].start;
    const char* matched = matchPattern(match, at, rest);
    if (matched == nullptr) match.captures[open].length = captureOpen;
    return matched;
}

// %1 to %9: the text of that capture again. %0 names no capture.
const char* matchBackReference(PatternMatch& match, const char* at, int digit) {
    const int index = digit - '1';
    if (index < 0 || index >= match.level || match.captures[index].length == captureOpen) {
        return failWith(match, PatternError::badBackReference);
    }
    const PatternCapture& capture = match.captures[index];
    // A position capture has no text, and Lua's comparison of its length
    // never succeeds.
    if (capture.length == capturePosition) return nullptr;
    const std::size_t length = static_cast<std::size_t>(capture.length);
    if (!spend(match, static_cast<long>(length) / comparedBytesPerStep)) return nullptr;
    if (static_cast<std::size_t>(match.subjectEnd - at) < length || std::memcmp(capture.start, at, length) != 0) {
        return nullptr;
    }
    return at + length;
}

// %bxy at `pair` (the x): from an x to the y that balances it.
const char* matchBalanced(PatternMatch& match, const char* at, const char* pair) {
    if (pair[0] == '\0' || pair[1] == '\0') return failWith(match, PatternError::unbalanced);
    if (at >= match.subjectEnd || *at != pair[0]) return nullptr;
    long depth = 1;
    while (++at < match.subjectEnd) {
        if (!spend(match, 1)) return nullptr;
        if (*at == pair[1]) {
            if (--depth == 0) return at + 1;
        } else if (*at == pair[0]) {
            ++depth;
        }
    }
    return nullptr;
}

}  // namespace

const char* patternErrorMessage(PatternError error) {
    switch (error) {
    case PatternError::endsWithEscape: return "malformed pattern (ends with '%')";
    case PatternError::missingBracket: return "malformed pattern (missing ']')";
    case PatternError::unbalanced: return "unbalanced pattern";
    case PatternError::frontierWithoutSet: return "missing '[' after '%f' in pattern";
    case PatternError::badBackReference: return "invalid capture index";
    case PatternError::unopenedCapture: return "invalid pattern capture";
    case PatternError::tooManyCaptures: return "too many captures";
    case PatternError::none:
    case PatternError::outOfSteps: break;
    }
    return "";
}

// Items that end the match or only move along it loop here; those that may
// have to be undone recurse.
const char* matchPattern(PatternMatch& match, const char* at, const char* p) {
    for (;;) {
        if (!spend(match, 1)) return nullptr;
        switch (*p) {
        case '\0':
            return at;
        case '(':
            if (p[1] == ')') return openCapture(match, at, p + 2, capturePosition);
            return openCapture(match, at, p + 1, captureOpen);
        case ')':
            return closeCapture(match, at, p + 1);
        case '$':
            // Only a last '$' anchors; elsewhere it is a character.
            if (p[1] == '\0') return at == match.subjectEnd ? at : nullptr;
            break;
        case escape:
            if (p[1] == 'b') {
                at = matchBalanced(match, at, p + 2);
                if (at == nullptr) return nullptr;
                p += 4;
                continue;
            }
            if (p[1] == 'f') {
                // %f[set]: where the character before is not in the set and
                // the one here is; the subject's edges count as '\0'.
                p += 2;
                if (*p != '[') return failWith(match, PatternError::frontierWithoutSet);
                const char* end = classEnd(match, p);
                if (end == nullptr) return nullptr;
                const int before = at == match.subject ? 0 : byteAt(at - 1);
                const int here = at < match.subjectEnd ? byteAt(at) : 0;
                if (inSet(before, p, end - 1) || !inSet(here, p, end - 1)) return nullptr;
                p = end;
                continue;
            }
            if (std::isdigit(byteAt(p + 1)) != 0) {
                at = matchBackReference(match, at, byteAt(p + 1));
                if (at == nullptr) return nullptr;
                p += 2;
                continue;
            }
            break;
        default:
            break;
        }
        const char* end = classEnd(match, p);
        if (end == nullptr) return nullptr;
        const bool here = itemAt(match, at, p, end);
        switch (*end) {
        case '?':
            if (here) {
                const char* matched = matchPattern(match, at + 1, end + 1);
                if (matched != nullptr || match.error != PatternError::none) return matched;
            }
            p = end + 1;
            continue;
        case '*':
            return matchLongest(match, at, p, end);
        case '+':
            return here ? matchLongest(match, at + 1, p, end) : nullptr;
        case '-':
            return matchShortest(match, at, p, end);
        default:
            if (!here) return nullptr;
            ++at;
            p = end;
            continue;
        }
    }
}

const char* findPlain(PatternMatch& match, const char* from, const char* needle, std::size_t needleSize) {
    if (needleSize == 0) return from;
    const std::size_t size = static_cast<std::size_t>(match.subjectEnd - from);
    if (needleSize > size) return nullptr;
    // Each place where the first byte matches costs a comparison of the rest.
    const long stepsPerCandidate = 1 + static_cast<long>(needleSize) / comparedBytesPerStep;
    const char* last = match.subjectEnd - needleSize;
    while (from <= last) {
        const void* found = std::memchr(from, needle[0], static_cast<std::size_t>(last - from) + 1);
        const char* searched = found != nullptr ? static_cast<const char*>(found) : last + 1;
        if (!spend(match, (searched - from) / searchedBytesPerStep)) return nullptr;
        if (found == nullptr) return nullptr;
        if (!spend(match, stepsPerCandidate)) return nullptr;
        if (std::memcmp(searched + 1, needle + 1, needleSize - 1) == 0) return searched;
        from = searched + 1;
    }
    return nullptr;
}

int patternDepth(const char* pattern) {
    int depth = 0;
    const char* p = pattern;
    while (*p != '\0') {
        if (*p == '(' || *p == ')') {
            ++depth;
            ++p;
            continue;
        }
        const bool frontier = *p == '%' && p[1] == 'f';
        // A balance %bxy or a back reference %1 is matched in place.
        if (*p == '%' && (p[1] == 'b' || (p[1] >= '0' && p[1] <= '9'))) {
            const int length = p[1] == 'b' ? 4 : 2;
            for (int skip = 0; skip < length && *p != '\0'; ++skip) ++p;
            continue;
        }
        if (frontier) p += 2;
        // One single-character class: c, %c or a set [...].
        if (*p == '%') {
            ++p;
            if (*p != '\0') ++p;
        } else if (*p == '[') {
            ++p;
            if (*p == '^') ++p;
            do {
                if (*p == '\0') return depth;
                if (*p++ == '%' && *p != '\0') ++p;
            } while (*p != ']');
            ++p;
        } else if (*p != '\0') {
            ++p;
        }
        // A frontier's set takes no repetition: what follows is the next item.
        if (!frontier && (*p == '?' || *p == '*' || *p == '+' || *p == '-')) {
            ++depth;
            ++p;
        }
    }
    return depth;
}

}  // namespace pelx04host
