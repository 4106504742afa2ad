#pragma once
// The family table: every tag family the tools read, one row each, keyed by name. A new
// family is a file in lf/families/ defining its row, and one line below and in the table.

#include <cstdint>
#include <string>

#include "lf/family.hpp"

namespace tavrel {

extern const Family family_em4100;
extern const Family family_fdxb;
extern const Family family_jablotron;
extern const Family family_nedap;
extern const Family family_gproxii;
extern const Family family_viking;
extern const Family family_noralsy;
extern const Family family_presco;
extern const Family family_visa2000;
extern const Family family_gallagher;
extern const Family family_securakey;
extern const Family family_pac;
extern const Family family_hid;
extern const Family family_hid_long;
extern const Family family_awid;
extern const Family family_ioprox;
extern const Family family_paradox;
extern const Family family_pyramid;
extern const Family family_fdxa;

/// Every row, in the order --help and the README list them.
extern const Family* const family_table[];
extern const int32_t family_count;

/// A choice of families, one bit per row of family_table.
using FamilySet = uint32_t;
constexpr FamilySet every_family = ~FamilySet{0};

/// The first row named `name`, or null. A family whose frames come in two lengths (HID's
/// short and long frames) has a row for each, both of one name.
const Family* family_named(const std::string& name);

/// The families of a comma-separated list of names; "" with `set` filled, or a message
/// naming the unknown name and the known ones.
std::string family_set_of(const std::string& list, FamilySet& set);

/// "em4100, hid, ...": the names of the table, for help texts and messages.
std::string family_names();

}  // namespace tavrel
