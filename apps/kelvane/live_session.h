// One live session of the add-in on the simulated host: what `kelvane session` runs
// its script on, and what `kelvane preview` holds while the author works.
#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>

#include "addin/swaddin.h"
#include "cli_platform.h"
#include "script.h"
#include "sim/sim.h"

namespace kelvane::cli {

class LiveSession {
 public:
  LiveSession(std::shared_ptr<sim::SimHost> host, CliPlatform& platform, std::ostream& out,
              std::unique_ptr<host::SwAddin> addin);
  ~LiveSession();

  LiveSession(const LiveSession&) = delete;
  LiveSession& operator=(const LiveSession&) = delete;

  void connect(std::int32_t cookie);
  void disconnect();
  void run(const Command& c);

 private:
  template <typename Body>
  void call(const std::string& method, Body&& body);
  void error(const std::string& what, const std::string& problem);
  sim::SimPage* shownPage() const;
  sim::SimControl* usable(const std::string& command, int id, int kind, const char* kindName);
  void menu();
  void typeText(int id, const std::string& text, const std::string& command);
  void selectEntry(int id, int index, const std::string& command);
  void typeText(const Command& c);
  void select(const Command& c);
  void check(const Command& c);
  void press(const Command& c);
  void help();
  void close(const Command& c);
  void set(const Command& c);
  void dump();

  std::shared_ptr<sim::SimHost> host_;
  CliPlatform& platform_;
  std::ostream& out_;
  std::unique_ptr<host::SwAddin> addin_;
  bool connected_ = false;
};

}  // namespace kelvane::cli
