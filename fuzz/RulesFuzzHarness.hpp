#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quorvel::fuzz {

// Runs `data` through the rules every front end shares and checks what they
// promise, beyond not crashing:
//
// - the whole input as the text of a value, for every parameter of every
//   effect type: parseValue() accepts it exactly when the value grammar does
//   (judged by an independent reading of the grammar, with the C library's
//   strtod for the number) and then stores that number; an accepted value is
//   one the effect can store, lies in the parameter's range as the effect
//   stores it, and formatValue() of it reads back to it;
// - its first eight bytes as a double handed over by a binding: checkValue()
//   decides as parseValue() does on formatNumber() of it;
// - the whole input as a chain file: readChain() + resolve() either refuse
//   with a message that starts with the file's name, or give a chain that
//   writeChain() writes and readChain() + resolve() read back to the same
//   types and values, and that then writes to the very same text.
//
// Every refusal must be a RuleError with a message of 1 to 999 bytes. Returns
// "" when every check holds, otherwise what failed. Anything thrown other
// than a RuleError is left to propagate.
std::string checkRulesInput(const std::uint8_t* data, std::size_t size);

}  // namespace quorvel::fuzz
