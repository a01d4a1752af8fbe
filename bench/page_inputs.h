// Page definitions, logs and documents of a chosen size, for the page benchmarks and
// the memory run of `kelvane session`: `fields` fields in groups of up to 100 (group
// ids stay below the fixed controls' 10000), every tenth field of each kind, and a
// document with `configs` configurations holding values for two fields in three.
#pragma once

#include <string>

#include "sim/sim.h"

namespace kelvane::bench {

inline std::string fieldName(int n) { return std::to_string(n); }

// The field line of field n; kinds repeat every ten fields.
inline std::string fieldLine(int n) {
  const std::string id = fieldName(n);
  const std::string prop = ";P" + id;
  switch (n % 10) {
    case 0: return "!Drawn By " + id + prop + ";JD";
    case 1: return "Part Number " + id + prop;
    case 2: return "!Checked By " + id + prop;
    case 3: return "Weight " + id + prop + ";;7";
    case 4: return "Project " + id + prop;
    case 5: return "Sheet " + id + prop + ";1";
    case 6: return "Finish " + id + prop;  // a combo box: entries below
    case 7: return "Description " + id + prop + ";{FILE_NAME}";
    case 8:  // a composite of four fields of its ten
      return "Code " + id + prop + ";<^Part Number " + fieldName(n - 7) + "!-!^Finish " +
             fieldName(n - 2) + "!/!Drawn By " + fieldName(n - 8) + "!Description " +
             fieldName(n - 1) + ">";
    default: return "Revision " + id + prop + ";A";
  }
}

inline std::string definitionText(int fields) {
  const int groups = (fields + 99) / 100;
  std::string ini = "# generated: " + std::to_string(fields) + " fields\n:USE_CONFIGS=Yes\n[Groups]\n";
  for (int g = 0; g < groups; ++g) ini += "Group " + std::to_string(g) + "\n";
  for (int g = 0; g < groups; ++g) {
    ini += "[Group " + std::to_string(g) + "]\n";
    for (int n = g * 100; n < fields && n < (g + 1) * 100; ++n) ini += fieldLine(n) + "\n";
  }
  for (int n = 6; n < fields; n += 10) {
    ini += "[Finish " + fieldName(n) + "]\nPainted;P\n*Anodized;A\nRaw\nPolished;PO\n";
  }
  return ini;
}

// Remembered values for the remembered fields.
inline std::string logText(int fields) {
  std::string log = "# File written by Kelvane 1.1 on 01/01/2026 08:00\r\n# Kelvane is -\r\n"
                    "# Do not edit of modify this file\r\n\r\n";
  for (int n = 0; n < fields; n += 10) {
    log += "Drawn By " + fieldName(n) + ";KL\r\n";
    if (n + 2 < fields) log += "Checked By " + fieldName(n + 2) + ";MN\r\n";
  }
  return log;
}

// `fields` plain text fields for the purge, 625 to a group so that the ids of up to
// 20,000 fields fit 16 bits; values are document-wide.
inline std::string plainDefinitionText(int fields) {
  constexpr int perGroup = 625;
  const int groups = (fields + perGroup - 1) / perGroup;
  std::string ini = ":USE_CONFIGS=No\n[Groups]\n";
  for (int g = 0; g < groups; ++g) ini += "Plain " + std::to_string(g) + "\n";
  for (int g = 0; g < groups; ++g) {
    ini += "[Plain " + std::to_string(g) + "]\n";
    for (int n = g * perGroup; n < fields && n < (g + 1) * perGroup; ++n) ini += "Field " + fieldName(n) + ";P" + fieldName(n) + "\n";
  }
  return ini;
}

// `values` false: the configurations hold no properties.
inline void fillDocument(sim::SimDocument& doc, int fields, int configs, bool values = true) {
  doc.title = "Bracket.SLDPRT";
  doc.density = 7850;
  for (int k = 0; k < configs; ++k) {
    const std::string config = "Config " + std::to_string(k);
    doc.addConfiguration(config);
    sim::PropertySet& props = doc.configurationProperties[config];
    for (int n = 0; values && n < fields; ++n) {
      if ((n + k) % 3 == 0) continue;
      const std::string value = n % 10 == 6 ? "Raw" : "value " + fieldName(n) + "/" + std::to_string(k);
      props.set("P" + fieldName(n), value);
    }
  }
  doc.activeConfiguration = configs / 2;
}

}  // namespace kelvane::bench
