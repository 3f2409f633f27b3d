// The filter box's paths and patterns, matched as brq matches them
// (names/entry_pattern.cpp and names/entry_selection.cpp): '*' and '?'
// within a name, '[...]' classes, a "**" name for any number of folders;
// a pattern without '/' names entries by their name wherever they stand,
// anything else by the whole path from the top; a named folder brings all
// it holds. The API offers no selection over a listing, so the page keeps
// its own copy of the rules. Names are matched a character (code point)
// at a time; case, where ignored, is ASCII's.
'use strict';

function fold_ascii(text) {
  return text.replace(/[A-Z]/g, (c) => c.toLowerCase());
}

function normalise_entry_path(path) {
  return path.split(/[/\\]/).filter((name) => name !== '' && name !== '.').join('/');
}

const is_name_pattern = (text) => !/[/\\]/.test(text);
const has_wildcards = (text) => /[*?[]/.test(text);

// A class "[...]" at `at` against the character `c`: its length, or 0 when
// it has no closing ']' (the '[' then stands for itself).
function match_class(pattern, at, c) {
  let i = at + 1;
  const negated = i < pattern.length && (pattern[i] === '!' || pattern[i] === '^');
  if (negated) i++;
  let inside = false;
  let first = true;
  while (i < pattern.length && (pattern[i] !== ']' || first)) {
    first = false;
    const low = pattern[i++];
    let high = low;
    if (i + 1 < pattern.length && pattern[i] === '-' && pattern[i + 1] !== ']') {
      high = pattern[i + 1];
      i += 2;
    }
    if (c.codePointAt(0) >= low.codePointAt(0) && c.codePointAt(0) <= high.codePointAt(0)) inside = true;
  }
  if (i >= pattern.length) return { length: 0 };
  return { length: i + 1 - at, matched: inside !== negated };
}

// `pattern` and `name` as arrays of characters, already folded if need be.
function match_name(pattern, name) {
  let p = 0;
  let n = 0;
  let star_p = -1;
  let star_n = 0;
  while (n < name.length) {
    if (p < pattern.length && pattern[p] === '*') {
      star_p = ++p;
      star_n = n;
      continue;
    }
    if (p < pattern.length) {
      let step = 1;
      let matched;
      if (pattern[p] === '?') {
        matched = true;
      } else {
        const found = pattern[p] === '[' ? match_class(pattern, p, name[n]) : { length: 0 };
        if (found.length) {
          step = found.length;
          matched = found.matched;
        } else {
          matched = pattern[p] === name[n];
        }
      }
      if (matched) {
        p += step;
        n++;
        continue;
      }
    }
    if (star_p < 0) return false;
    n = ++star_n;
    p = star_p;
  }
  while (p < pattern.length && pattern[p] === '*') p++;
  return p === pattern.length;
}

class PathPattern {
  constructor(text, fold) {
    this.fold = fold;
    this.names = normalise_entry_path(text).split('/').filter((n) => n).map((n) => Array.from(fold(n)));
  }

  matches(path) {
    const names = path.split('/').filter((n) => n).map((n) => Array.from(this.fold(n)));
    let p = 0;
    let n = 0;
    let star_p = -1;
    let star_n = 0;
    const is_globstar = (i) => this.names[i].length === 2 && this.names[i].join('') === '**';
    while (n < names.length) {
      if (p < this.names.length && is_globstar(p)) {
        star_p = ++p;
        star_n = n;
        continue;
      }
      if (p < this.names.length && match_name(this.names[p], names[n])) {
        p++;
        n++;
        continue;
      }
      if (star_p < 0) return false;
      n = ++star_n;
      p = star_p;
    }
    while (p < this.names.length && is_globstar(p)) p++;
    return p === this.names.length;
  }
}

// Whether the entry `name` at `path` is named itself by one of `texts`:
// everything below it is then chosen with it.
function make_selection(texts, ignore_case) {
  const fold = ignore_case ? fold_ascii : (text) => text;
  const literals = new Set(texts.map((text) => fold(normalise_entry_path(text))));
  const patterns = texts.filter(has_wildcards)
    .map((text) => ({ pattern: new PathPattern(text, fold), by_name: is_name_pattern(text) }));
  return (name, path) => literals.has(fold(path)) ||
    patterns.some(({ pattern, by_name }) => pattern.matches(by_name ? name : path));
}
