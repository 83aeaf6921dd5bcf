// Command/response scripts for simulated cards: one row per APDU.
#pragma once

#include "cardsim/bytes.h"

#include <functional>
#include <string>
#include <vector>

namespace cardsimtest {

struct Step {
  std::string command;  // hex
  std::string expect;   // hex of the whole answer; "*" stands for any bytes ("*9000": data, then 9000)
};

// Sends each command through `send` and checks the answer; failures name the row.
// Returns the answers.
std::vector<cardsim::Bytes> runScript(const std::function<cardsim::Bytes(const cardsim::Bytes&)>& send,
                                      const std::vector<Step>& steps);

bool answerMatches(const cardsim::Bytes& answer, const std::string& expect);

}  // namespace cardsimtest
