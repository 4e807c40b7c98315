// JSON text read with a nesting limit. The JSON library parses any depth,
// but copying, comparing or writing a value recurses once per level, so a
// reply of a million "[" parses and then overflows the stack wherever it is
// used. Every document that comes from outside the process is read here.
//
// Thread contract: free functions without state.
#pragma once

#include <cstddef>
#include <functional>
#include <string_view>

#include "base/Value.h"

namespace palvero {

// Deeper than any document the client and the service exchange.
inline constexpr size_t kMaxJsonDepth = 64;

// Whether `text` is well-formed UTF-8 (no overlong forms, surrogates or
// code points past U+10FFFF): what a JSON string can carry unchanged. File
// names need not be.
bool isUtf8(std::string_view text);

// Whether the arrays and objects of `text` nest at most `maxDepth` deep
// (brackets inside strings do not count). Says nothing about validity.
bool jsonDepthWithin(std::string_view text, size_t maxDepth = kMaxJsonDepth);

// The parsed value, or a discarded value (is_discarded()) when `text` is
// not JSON or nests deeper than `maxDepth`. Never throws for bad input.
Value parseJson(std::string_view text, size_t maxDepth = kMaxJsonDepth);

// Reads `text` as a JSON array and hands each element to `each` as soon as
// it is complete, keeping none: a listing of a whole tree would otherwise
// be held twice, as text and as a far larger parsed value. False when
// `text` is not such an array (elements before the fault were handed over).
bool forEachJsonArrayElement(std::string_view text, const std::function<void(const Value&)>& each,
                             size_t maxDepth = kMaxJsonDepth);

}  // namespace palvero
