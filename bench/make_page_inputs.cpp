// Writes the inputs of a page benchmark for `kelvane session`: Kelvane.ini and
// Kelvane.log into FOLDER, and the document as FOLDER/document.json.
//   kelvane_make_page_inputs FOLDER FIELDS CONFIGS
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

#include "document_file.h"
#include "page_inputs.h"
#include "sim/sim.h"

namespace {

bool write(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
  return static_cast<bool>(out.flush());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: kelvane_make_page_inputs FOLDER FIELDS CONFIGS\n";
    return 2;
  }
  const std::string folder = argv[1];
  const int fields = std::atoi(argv[2]);
  const int configs = std::atoi(argv[3]);

  auto faults = std::make_shared<kelvane::sim::Faults>();
  kelvane::sim::SimDocument doc(faults);
  kelvane::bench::fillDocument(doc, fields, configs);

  // The files the add-in reads are kept in Windows-1252; these are plain ASCII.
  if (!write(folder + "/Kelvane.ini", kelvane::bench::definitionText(fields)) ||
      !write(folder + "/Kelvane.log", kelvane::bench::logText(fields)) ||
      !write(folder + "/document.json", kelvane::cli::documentText(doc))) {
    std::cerr << "kelvane_make_page_inputs: cannot write into " << folder << "\n";
    return 1;
  }
  return 0;
}
