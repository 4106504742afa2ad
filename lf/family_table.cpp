#include "lf/family_table.hpp"

#include <sstream>

namespace tavrel {

const Family* const family_table[] = {
    &family_em4100,    &family_fdxb,    &family_jablotron, &family_nedap,    &family_gproxii,
    &family_viking,    &family_noralsy, &family_presco,    &family_visa2000, &family_gallagher,
    &family_securakey, &family_pac,     &family_hid,       &family_hid_long, &family_awid,
    &family_ioprox,    &family_paradox, &family_pyramid,   &family_fdxa,
};
const int32_t family_count = static_cast<int32_t>(std::size(family_table));
static_assert(std::size(family_table) <= 8 * sizeof(FamilySet));

const Family* family_named(const std::string& name) {
  for (const Family* f : family_table)
    if (name == f->name) return f;
  return nullptr;
}

std::string family_names() {
  std::string out;
  for (const Family* f : family_table)
    if (family_named(f->name) == f) out += (out.empty() ? "" : ", ") + std::string(f->name);
  return out;
}

std::string family_set_of(const std::string& list, FamilySet& set) {
  set = 0;
  std::istringstream in(list);
  for (std::string name; std::getline(in, name, ',');) {
    if (name == "all") {
      set = every_family;
      continue;
    }
    FamilySet named = 0;
    for (int32_t i = 0; i < family_count; ++i)
      if (name == family_table[i]->name) named |= FamilySet{1} << i;
    if (named == 0)
      return "unknown family \"" + name + "\"; the families are " + family_names() + " (or all)";
    set |= named;
  }
  if (set == 0) return "no family named; the families are " + family_names() + " (or all)";
  return "";
}

}  // namespace tavrel
