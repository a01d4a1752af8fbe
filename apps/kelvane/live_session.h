// One live session of the add-in on the simulated host: what `kelvane session` runs
// its script on, and what `kelvane preview` holds while the author works.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "addin/swaddin.h"
#include "cli_platform.h"
#include "script.h"
#include "sim/sim.h"

namespace kelvane::cli {

class LiveSession {
 public:
  // What a person would see, one line at a time: ("status", text), ("error", text),
  // ("menu", "unavailable"). Message boxes and processes reach the platform instead.
  using EventSink = std::function<void(const std::string& kind, const std::string& text)>;

  // The lines go to `out` as "KIND: TEXT", as `show` and `dump` print there.
  LiveSession(std::shared_ptr<sim::SimHost> host, CliPlatform& platform, std::ostream& out,
              std::unique_ptr<host::SwAddin> addin);
  LiveSession(std::shared_ptr<sim::SimHost> host, CliPlatform& platform, std::ostream& out,
              std::unique_ptr<host::SwAddin> addin, EventSink sink);
  ~LiveSession();

  LiveSession(const LiveSession&) = delete;
  LiveSession& operator=(const LiveSession&) = delete;

  void connect(std::int32_t cookie);
  void disconnect();
  void run(const Command& c);

  // Runs `c` as a person's action: the reason a person could not do it (no page shown,
  // no such control, a disabled one, ...), or nothing when the host took it. Failures
  // of the add-in's own methods are no refusal: the host reports them and goes on.
  std::optional<std::string> perform(const Command& c);

  bool connected() const { return connected_; }
  // The page a person sees now, or null.
  sim::SimPage* shownPage() const;

 private:
  template <typename Body>
  void call(const std::string& method, Body&& body);
  void error(const std::string& what, const std::string& problem);
  // A person's action that the host does not take, for the reason given.
  void refuse(const std::string& command, const std::string& reason);
  template <typename Body>
  void act(const std::string& command, const std::string& method, Body&& body);
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
  EventSink sink_;
  bool connected_ = false;
  std::optional<std::string> refusal_;  // of the action being performed
};

}  // namespace kelvane::cli
