#include "apdu_script.h"

#include <gtest/gtest.h>

namespace cardsimtest {

bool answerMatches(const cardsim::Bytes& answer, const std::string& expect) {
  auto star = expect.find('*');
  if (star == std::string::npos) return answer == cardsim::fromHex(expect);
  cardsim::Bytes head = cardsim::fromHex(expect.substr(0, star));
  cardsim::Bytes tail = cardsim::fromHex(expect.substr(star + 1));
  return answer.size() >= head.size() + tail.size() && std::equal(head.begin(), head.end(), answer.begin()) &&
         std::equal(tail.rbegin(), tail.rend(), answer.rbegin());
}

std::vector<cardsim::Bytes> runScript(const std::function<cardsim::Bytes(const cardsim::Bytes&)>& send,
                                      const std::vector<Step>& steps) {
  std::vector<cardsim::Bytes> answers;
  int row = 0;
  for (auto& step : steps) {
    ++row;
    cardsim::Bytes answer = send(cardsim::fromHex(step.command));
    EXPECT_TRUE(answerMatches(answer, step.expect))
        << "row " << row << ": " << step.command << "\n  expected " << step.expect << "\n  got      "
        << cardsim::toHex(answer);
    answers.push_back(answer);
  }
  return answers;
}

}  // namespace cardsimtest
