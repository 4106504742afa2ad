#pragma once
// The family table: every tag family the tools read, one row each, keyed by name. A new
// family is a file in lf/families/ defining its row, and one line below and in the table.

#include <cstdint>
#include <string>

#include "lf/family.hpp"

namespace tavrel {

extern const Family family_em4100;

/// Every row, in the order --help and the README list them.
extern const Family* const family_table[];
extern const int32_t family_count;

/// A choice of families, one bit per row of family_table.
using FamilySet = uint32_t;
constexpr FamilySet every_family = ~FamilySet{0};

/// The row named `name`, or null.
const Family* family_named(const std::string& name);

/// The families of a comma-separated list of names; "" with `set` filled, or a message
/// naming the unknown name and the known ones.
std::string family_set_of(const std::string& list, FamilySet& set);

/// "em4100, hid, ...": the names of the table, for help texts and messages.
std::string family_names();

}  // namespace tavrel
