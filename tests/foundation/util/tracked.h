// An element type that counts its living instances, so that tests can see
// who deletes what.
#pragma once

#include <string>

struct Tracked {
  explicit Tracked(std::string text) : text(std::move(text)) { ++alive; }
  Tracked(const Tracked& other) : text(other.text) { ++alive; }
  ~Tracked() { --alive; }
  Tracked& operator=(const Tracked&) = default;

  std::string text;
  static int alive;
};
