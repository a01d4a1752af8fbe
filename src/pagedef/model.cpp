#include "pagedef/model.h"

#include <algorithm>

namespace kelvane::pagedef {

const std::vector<FieldRef>* CaptionIndex::find(std::string_view caption) const {
  auto hit = fields_.find(caption);
  return hit == fields_.end() ? nullptr : &hit->second;
}

void CaptionIndex::add(std::string_view caption, FieldRef at) {
  auto hit = fields_.find(caption);
  if (hit == fields_.end()) hit = fields_.emplace(std::string(caption), std::vector<FieldRef>()).first;
  std::vector<FieldRef>& refs = hit->second;
  if (refs.empty() || refs.back() < at) refs.push_back(at);
  else refs.insert(std::upper_bound(refs.begin(), refs.end(), at), at);
}

FieldDef& PageDefinition::addField(std::int16_t group, std::string_view caption) {
  std::vector<FieldDef>& fields = groups.at(group).fields;
  FieldDef& field = fields.emplace_back();
  field.caption = caption;
  captions_.add(field.caption, {group, static_cast<std::int16_t>(fields.size() - 1)});
  return field;
}

}  // namespace kelvane::pagedef
