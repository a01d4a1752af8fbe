#include "tools/tools.h"

namespace kelvane {

// Every declared property goes, at document level and in every configuration the
// page was built with, whatever useConfigs says. A deletion answering false (the
// property was not there) does not stop the run.
bool purgeCP(State& s) {
  return trapped(s, "purgeCP", status::kPurgeError, [&] {
    bool allDeleted = true;
    for (int i = 0; i <= s.lastGroup; ++i) {
      for (const auto& f : s.model.groups.at(i).fields) {
        if (!activeDocument(s)->DeleteCustomInfo2("", f.propName)) allDeleted = false;
        for (int k = 0; k < s.configCount; ++k) {
          auto doc = activeDocument(s);
          if (!doc->DeleteCustomInfo2(s.configNames.at(k), f.propName)) allDeleted = false;
        }
      }
    }
    return allDeleted;
  });
}

}  // namespace kelvane
