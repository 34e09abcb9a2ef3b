#include "luapatternguard.h"

#include "luaboundedlib.h"
#include "luatimelimit.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include <cctype>
#include <cstdint>
#include <cstring>

namespace {

constexpr char escape = '%';
constexpr int maxCaptures = 32; // LUA_MAXCAPTURES
constexpr std::ptrdiff_t unfinishedCapture = -1;
constexpr std::ptrdiff_t positionCapture = -2;
// Matcher steps between two looks at the clock (well under a millisecond).
constexpr long stepsPerLook = 1 << 16;
// Lua's matcher takes at most about this many times as long as the count of the same
// search (measured: 1 for backtracking patterns, up to 2.3 for gmatch making many strings).
constexpr double matchTimePerCountTime = 2.0;
// How far past the deadline a search that was counted may be expected to end.
constexpr std::int64_t searchOverrunNs = 200 * 1000000LL;

// One past the end of the single-character class at p, as the matcher reads it:
// "%x", a set "[...]" (its first character never closes it), or one character. A
// malformed set runs to the end; the original function reports it.
const char* classEnd(const char* p)
{
    if (*p == escape)
        return p[1] ? p + 2 : p + 1;
    if (*p != '[')
        return p + 1;
    ++p;
    if (*p == '^')
        ++p;
    do {
        if (!*p)
            return p;
        if (*p++ == escape && *p)
            ++p;
    } while (*p != ']');
    return p + 1;
}

bool isQuantifier(char c)
{
    return c == '?' || c == '*' || c == '+' || c == '-';
}

// Walks a pattern's items as the matcher reads them, after its anchor: onCapture for each
// "(" and ")", onQuantified(quantifier) for each single-character item that has one. A
// balance (%b) or frontier (%f) item takes no quantifier.
template <typename OnCapture, typename OnQuantified>
void forEachItem(const char* p, OnCapture onCapture, OnQuantified onQuantified)
{
    if (*p == '^')
        ++p;
    while (*p) {
        if (*p == '(' || *p == ')') {
            onCapture();
            ++p;
            continue;
        }
        if (p[0] == escape && p[1] == 'b') {
            for (int skip = 0; skip < 4 && *p; ++skip)
                ++p;
            continue;
        }
        if (p[0] == escape && p[1] == 'f') {
            p = p[2] ? classEnd(p + 2) : p + 2;
            continue;
        }
        const char* end = classEnd(p);
        if (isQuantifier(*end)) {
            onQuantified(*end);
            ++end;
        }
        p = end;
    }
}

// Whether the character belongs to the class %cl, with the C library's character
// classes, as the matcher decides it.
bool matchClass(int c, int cl)
{
    bool result;
    switch (std::tolower(cl)) {
    case 'a': result = std::isalpha(c); break;
    case 'c': result = std::iscntrl(c); break;
    case 'd': result = std::isdigit(c); break;
    case 'l': result = std::islower(c); break;
    case 'p': result = std::ispunct(c); break;
    case 's': result = std::isspace(c); break;
    case 'u': result = std::isupper(c); break;
    case 'w': result = std::isalnum(c); break;
    case 'x': result = std::isxdigit(c); break;
    case 'z': result = c == 0; break;
    default: return cl == c;
    }
    return std::isupper(cl) ? !result : result;
}

// A set "[...]" from p (its '[') to ec (its ']').
bool matchSet(int c, const char* p, const char* ec)
{
    bool inSet = true;
    if (p[1] == '^') {
        inSet = false;
        ++p;
    }
    while (++p < ec) {
        if (*p == escape) {
            ++p;
            if (matchClass(c, static_cast<unsigned char>(*p)))
                return inSet;
        } else if (p[1] == '-' && p + 2 < ec) {
            p += 2;
            if (static_cast<unsigned char>(p[-2]) <= c && c <= static_cast<unsigned char>(*p))
                return inSet;
        } else if (static_cast<unsigned char>(*p) == c) {
            return inSet;
        }
    }
    return !inSet;
}

bool singleMatch(int c, const char* p, const char* ep)
{
    switch (*p) {
    case '.': return true;
    case escape: return matchClass(c, static_cast<unsigned char>(p[1]));
    case '[': return matchSet(c, p, ep - 1);
    default: return static_cast<unsigned char>(*p) == c;
    }
}

// Lua 5.1's matcher, searching exactly as it does, but counting its steps instead of
// producing captures: it stops (and says so) when its deadline passes, or when
// the pattern is malformed, which the real matcher reports as an error.
class MatchCount
{
public:
    MatchCount(const char* subject, std::size_t length, std::int64_t deadlineNs)
        : begin(subject), end(subject + length), deadline(deadlineNs)
    {
    }

    // One attempt at s; null when it fails (or the count stopped).
    const char* match(const char* s, const char* p);
    void reset() { level = 0; }
    bool stopped() const { return overTime || malformed; }
    bool isOverTime() const { return overTime; }
    const char* subjectEnd() const { return end; }

private:
    int at(const char* s) const { return s < end ? static_cast<unsigned char>(*s) : 0; }
    // Counts steps and, every so many, looks at the clock.
    bool step(long count = 1)
    {
        stepsSinceLook += count;
        if (stepsSinceLook >= stepsPerLook) {
            stepsSinceLook = 0;
            if (coarseClockNs() >= deadline)
                overTime = true;
        }
        return !stopped();
    }
    const char* fail()
    {
        malformed = true;
        return nullptr;
    }
    const char* checkedClassEnd(const char* p)
    {
        const char* ep = classEnd(p);
        if ((*p == escape && !p[1]) || (*p == '[' && ep[-1] != ']'))
            return nullptr;
        return ep;
    }
    const char* maxExpand(const char* s, const char* p, const char* ep);
    const char* minExpand(const char* s, const char* p, const char* ep);
    const char* startCapture(const char* s, const char* p, std::ptrdiff_t what);
    const char* endCapture(const char* s, const char* p);
    const char* matchBalance(const char* s, const char* p);
    const char* matchCapture(const char* s, int l);

    const char* begin;
    const char* end;
    std::int64_t deadline;
    long stepsSinceLook = 0;
    bool overTime = false;
    bool malformed = false;
    int level = 0;
    struct
    {
        const char* init;
        std::ptrdiff_t length;
    } capture[maxCaptures] = {};
};

const char* MatchCount::maxExpand(const char* s, const char* p, const char* ep)
{
    std::ptrdiff_t i = 0;
    while (s + i < end && singleMatch(at(s + i), p, ep))
        ++i;
    if (!step(i))
        return nullptr;
    for (; i >= 0; --i) {
        if (const char* result = match(s + i, ep + 1))
            return result;
        if (stopped())
            return nullptr;
    }
    return nullptr;
}

const char* MatchCount::minExpand(const char* s, const char* p, const char* ep)
{
    for (;;) {
        if (const char* result = match(s, ep + 1))
            return result;
        if (stopped() || !(s < end && singleMatch(at(s), p, ep)))
            return nullptr;
        ++s;
    }
}

const char* MatchCount::startCapture(const char* s, const char* p, std::ptrdiff_t what)
{
    if (level >= maxCaptures)
        return fail();
    capture[level] = {s, what};
    ++level;
    const char* result = match(s, p);
    if (!result)
        --level;
    return result;
}

const char* MatchCount::endCapture(const char* s, const char* p)
{
    int l = level - 1;
    while (l >= 0 && capture[l].length != unfinishedCapture)
        --l;
    if (l < 0)
        return fail();
    capture[l].length = s - capture[l].init;
    const char* result = match(s, p);
    if (!result)
        capture[l].length = unfinishedCapture;
    return result;
}

const char* MatchCount::matchBalance(const char* s, const char* p)
{
    if (!p[0] || !p[1])
        return fail();
    if (at(s) != static_cast<unsigned char>(p[0]) || s >= end)
        return nullptr;
    const int open = static_cast<unsigned char>(p[0]);
    const int close = static_cast<unsigned char>(p[1]);
    int depth = 1;
    const char* from = s;
    while (++s < end) {
        const int c = at(s);
        if (c == close) {
            if (--depth == 0)
                return step(s - from) ? s + 1 : nullptr;
        } else if (c == open) {
            ++depth;
        }
    }
    step(s - from);
    return nullptr;
}

const char* MatchCount::matchCapture(const char* s, int l)
{
    l -= '1';
    if (l < 0 || l >= level || capture[l].length == unfinishedCapture)
        return fail();
    const std::ptrdiff_t length = capture[l].length == positionCapture ? 0 : capture[l].length;
    if (!step(length))
        return nullptr;
    if (end - s >= length && std::memcmp(capture[l].init, s, std::size_t(length)) == 0)
        return s + length;
    return nullptr;
}

const char* MatchCount::match(const char* s, const char* p)
{
    for (;;) {
        if (!step())
            return nullptr;
        switch (*p) {
        case '(':
            return p[1] == ')' ? startCapture(s, p + 2, positionCapture) : startCapture(s, p + 1, unfinishedCapture);
        case ')':
            return endCapture(s, p + 1);
        case '\0':
            return s;
        case '$':
            if (p[1] == '\0')
                return s == end ? s : nullptr;
            break;
        case escape:
            if (p[1] == 'b') {
                s = matchBalance(s, p + 2);
                if (!s)
                    return nullptr;
                p += 4;
                continue;
            }
            if (p[1] == 'f') {
                p += 2;
                if (*p != '[')
                    return fail();
                const char* ep = checkedClassEnd(p);
                if (!ep)
                    return fail();
                const int previous = s == begin ? 0 : static_cast<unsigned char>(s[-1]);
                if (matchSet(previous, p, ep - 1) || !matchSet(at(s), p, ep - 1))
                    return nullptr;
                p = ep;
                continue;
            }
            if (std::isdigit(static_cast<unsigned char>(p[1]))) {
                s = matchCapture(s, p[1]);
                if (!s)
                    return nullptr;
                p += 2;
                continue;
            }
            break;
        default:
            break;
        }
        // A single-character item, with or without its quantifier.
        const char* ep = checkedClassEnd(p);
        if (!ep)
            return fail();
        const bool matches = s < end && singleMatch(at(s), p, ep);
        switch (*ep) {
        case '?':
            if (matches) {
                if (const char* result = match(s + 1, ep + 1))
                    return result;
                if (stopped())
                    return nullptr;
            }
            p = ep + 1;
            continue;
        case '*':
            return maxExpand(s, p, ep);
        case '+':
            return matches ? maxExpand(s + 1, p, ep) : nullptr;
        case '-':
            return minExpand(s, p, ep);
        default:
            if (!matches)
                return nullptr;
            ++s;
            p = ep;
            continue;
        }
    }
}

// A bound on the matcher's steps that costs nothing to compute. Each start position grows
// a search tree in which a quantified item branches at most into the positions it can
// take (2 for "?"), and every node works through at most the whole pattern, each item
// scanning at most the whole subject. Most calls stay far below patternStepsWithoutCount, and
// only the others are counted.
double roughBound(std::size_t length, const char* p, std::size_t starts)
{
    const double positions = double(length) + 1;
    const double items = double(std::strlen(p)) + 1;
    double bound = double(starts) * items * items * positions;
    forEachItem(p, [] {}, [&bound, positions](char quantifier) { bound *= quantifier == '?' ? 2 : positions; });
    return bound;
}

// The guards, one per function; the original C function is kept here rather than in an
// upvalue, which a script could replace.
enum Guarded { Find, Match, GlobalMatch, Substitute, guardedCount };
const char* const guardedNames[guardedCount] = {"find", "match", "gmatch", "gsub"};
lua_CFunction originals[guardedCount] = {};

// Whether the search can end in time: counted when a cheap bound says it could be long.
bool searchEndsInTime(PatternSearch search, const char* subject, std::size_t length, const char* pattern,
                      std::size_t init, long maxReplacements)
{
    const bool anchored = pattern[0] == '^' && search != PatternSearch::NextMatch;
    const std::size_t starts = anchored ? 1 : length - init + 1;
    const long leftMs = remainingMs();
    if (leftMs < 0 || roughBound(length - init, pattern, starts) <= double(patternStepsWithoutCount))
        return true;
    // The count may take the call's time up to its deadline; Lua's search after it must
    // then end within the margin past it.
    const std::int64_t start = coarseClockNs();
    const std::int64_t deadline = start + std::int64_t(leftMs) * 1000000;
    if (!patternSearchFinishesBy(search, subject, length, pattern, init, maxReplacements, deadline))
        return false;
    const std::int64_t now = coarseClockNs();
    return now + std::int64_t(matchTimePerCountTime * double(now - start)) <= deadline + searchOverrunNs;
}

// What the call asks of the matcher, read from its arguments as the original reads them
// (an argument error is left to the original, which reports it).
bool checkCost(lua_State* ls, Guarded which)
{
    std::size_t length = 0;
    const char* subject = lua_tolstring(ls, 1, &length);
    const char* pattern = lua_tostring(ls, 2);
    if (!subject || !pattern)
        return true;
    if (which == Find && (lua_toboolean(ls, 4) || !std::strpbrk(pattern, "^$*+?.([%-")))
        return true; // a plain search never runs the matcher
    if (which == Substitute) {
        const long maxReplacements = lua_isnumber(ls, 4) ? long(lua_tointeger(ls, 4)) : long(length) + 1;
        return searchEndsInTime(PatternSearch::Substitute, subject, length, pattern, 0, maxReplacements);
    }
    lua_Integer position = lua_isnumber(ls, 3) ? lua_tointeger(ls, 3) : 1;
    if (position < 0)
        position += lua_Integer(length) + 1;
    std::size_t init = position < 1 ? 0 : std::size_t(position - 1);
    if (init > length)
        init = length;
    return searchEndsInTime(PatternSearch::Find, subject, length, pattern, init, 0);
}

void checkPatternDepth(lua_State* ls)
{
    if (patternRecursionDepth(lua_tostring(ls, 2)) > maxPatternRecursionDepth)
        luaL_error(ls, "pattern too complex");
}

template <Guarded which>
int guardedPatternFunction(lua_State* ls)
{
    if (lua_type(ls, 2) == LUA_TSTRING) {
        const bool plainFind = which == Find && lua_toboolean(ls, 4);
        if (!plainFind)
            checkPatternDepth(ls);
        if (lua_type(ls, 1) == LUA_TSTRING && !checkCost(ls, which))
            return raiseTimeLimit(ls);
    }
    if (which == Substitute)
        checkCallbacks(ls, 3); // a C function or table as the replacement
    // Run in this frame: argument errors keep naming the function the script called.
    const int results = originals[which](ls);
    enforceTimeLimit(ls);
    return results;
}

// gmatch's iterator, guarded each time it runs. Upvalue: Lua's own iterator, whose
// upvalues are the subject, the pattern and the position of the next search.
int guardedGmatchStep(lua_State* ls)
{
    lua_settop(ls, 0);
    lua_pushvalue(ls, lua_upvalueindex(1)); // iterator
    lua_getupvalue(ls, 1, 1);               // iterator, subject
    lua_getupvalue(ls, 1, 2);               // iterator, subject, pattern
    lua_getupvalue(ls, 1, 3);               // iterator, subject, pattern, position
    std::size_t length = 0;
    const char* subject = lua_tolstring(ls, 2, &length);
    const char* pattern = lua_tostring(ls, 3);
    const lua_Integer position = lua_tointeger(ls, 4);
    if (subject && pattern && position >= 0 && std::size_t(position) <= length &&
        !searchEndsInTime(PatternSearch::NextMatch, subject, length, pattern, std::size_t(position), 0))
        return raiseTimeLimit(ls);
    lua_settop(ls, 1);                // iterator
    lua_call(ls, 0, LUA_MULTRET);     // captures...
    enforceTimeLimit(ls);
    return lua_gettop(ls);
}

} // namespace

int guardedFind(lua_State* ls)
{
    return guardedPatternFunction<Find>(ls);
}

int guardedMatch(lua_State* ls)
{
    return guardedPatternFunction<Match>(ls);
}

int guardedGsub(lua_State* ls)
{
    return guardedPatternFunction<Substitute>(ls);
}

int guardedGmatch(lua_State* ls)
{
    if (lua_type(ls, 2) == LUA_TSTRING)
        checkPatternDepth(ls);
    originals[GlobalMatch](ls);                       // ..., iterator
    lua_pushcclosure(ls, guardedGmatchStep, 1);       // ..., guarded iterator
    return 1;
}

void takePatternOriginals(lua_State* ls)
{
    lua_getglobal(ls, "string"); // string
    for (int which = 0; which < guardedCount; ++which) {
        lua_getfield(ls, -1, guardedNames[which]); // string, function
        originals[which] = lua_tocfunction(ls, -1);
        lua_pop(ls, 1); // string
    }
    lua_pop(ls, 1); // (empty)
}

bool patternSearchFinishesBy(PatternSearch search, const char* subject, std::size_t length, const char* pattern,
                             std::size_t init, long maxReplacements, std::int64_t deadlineNs)
{
    MatchCount count(subject, length, deadlineNs);
    const char* s = subject + init;
    const char* p = pattern;
    if (search == PatternSearch::Find) {
        const bool anchor = *p == '^';
        if (anchor)
            ++p;
        do {
            count.reset();
            if (count.match(s, p) || count.stopped())
                break;
        } while (s++ < count.subjectEnd() && !anchor);
    } else if (search == PatternSearch::NextMatch) {
        // gmatch takes no anchor: the first match from init.
        for (; s <= count.subjectEnd(); ++s) {
            count.reset();
            if (count.match(s, p) || count.stopped())
                break;
        }
    } else {
        const bool anchor = *p == '^';
        if (anchor)
            ++p;
        for (long replaced = 0; replaced < maxReplacements;) {
            count.reset();
            const char* e = count.match(s, p);
            if (count.stopped())
                break;
            if (e)
                ++replaced;
            if (e && e > s)
                s = e;
            else if (s < count.subjectEnd())
                ++s;
            else
                break;
            if (anchor)
                break;
        }
    }
    return !count.isOverTime();
}

int patternRecursionDepth(const char* p)
{
    // A capture's start and end each add a level, and so does a quantified item.
    int depth = 0;
    forEachItem(p, [&depth] { ++depth; }, [&depth](char) { ++depth; });
    return depth;
}
