// What a page definition says that parses but will not work as its author probably
// meant. The parser decides what the file means; this observes that one parse and
// points at the lines that deserve a second look.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "pagedef/parser.h"

namespace kelvane::cli {

struct IniWarning {
  int line = 0;  // counted from 0, as in the parser's "Error caused by line N"
  std::string text;
};

class IniWarnings : public pagedef::ParseObserver {
 public:
  explicit IniWarnings(const pagedef::PageDefinition& model) : model_(model) {}

  void ignoredLine(int line, std::string_view raw) override;
  void lineBeforeSections(int line) override;
  void unmatchedHeader(int line, std::string_view header) override;
  void option(int line, std::string_view key, std::string_view value) override;
  void optionWithoutValue(int line) override;
  void field(int line, pagedef::FieldRef at, std::string_view defaultColumn) override;
  void composite(int line, std::int16_t index) override;

  // Once the file was read to its end: the warnings, in line order.
  std::vector<IniWarning> finish();

 private:
  // Folded name -> the two smallest names with that fold: a near miss is the smallest
  // one that differs from the name looked up.
  class NearMisses {
   public:
    void add(const std::string& name);
    std::string of(const std::string& name) const;  // "; did you mean ..." or ""

   private:
    std::unordered_map<std::string, std::vector<std::string>> byFold_;
  };

  struct Pending {
    int line;
    std::string text;  // the header, or unused
    std::int16_t index = 0;
  };

  void warn(int line, std::string text) { warnings_.push_back({line, std::move(text)}); }
  void unclosedComposite(int line, std::string_view caption, std::string_view defaultColumn);
  void headerWarnings();
  void compositeWarnings();
  void compositeOrderWarnings();

  const pagedef::PageDefinition& model_;
  std::vector<bool> idsWarned_;  // per group: an id overflow was reported
  struct IdUse {
    pagedef::FieldRef at;
    int line;
  };
  std::unordered_map<long, IdUse> inputIds_;  // input control id -> its first field
  std::vector<Pending> headers_;
  std::vector<Pending> composites_;
  std::vector<IniWarning> warnings_;
};

}  // namespace kelvane::cli
