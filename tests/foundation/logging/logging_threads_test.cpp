// Several threads share one report: the Java threads, the Java output streams and
// the card start-up threads all log at once.
#include "FoundationFixture.h"

#include "foundation/core/CLogable.h"
#include "foundation/core/CReport.h"
#include "foundation/core/CReportFactory.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace ft = foundationtest;

class Worker : public CLogable {
 public:
  explicit Worker(int id) : m_id(id) { logObject(this, kConstructed); }
  ~Worker() override { logObject(this, kDestroyed); }
  int getSize() const override { return static_cast<int>(sizeof *this); }
  void call(int i) const {
    log("call", "started.\n", 3, kPush);
    char text[64];
    std::snprintf(text, sizeof text, "worker %d call %d body.\n", m_id, i);
    log(nullptr, text, 3, 0);
    log("call", "returned: 0x0.\n", 3, kPop);
  }

 private:
  int m_id;
};

namespace {

const std::string kLog = "C:\\logs\\threads.log";

TEST(LoggingThreads, EightThreadsKeepEveryLineIntact) {
  ft::makeApplication();
  ft::installProgramArchive(ft::signedArchive({ft::productSection({{"Trace", "allowed"}})}));
  ft::writeFile("C:\\logs\\keep", "");
  ft::setString(std::string(ft::kUserKey) + "\\Trace", "Filename", kLog);
  ft::setDword(std::string(ft::kUserKey) + "\\Trace", "LogLevel", 6);

  constexpr int kThreads = 8;
  constexpr int kCalls = 10000;
  {
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([t] {
        Worker worker(t);
        for (int i = 0; i < kCalls; ++i) {
          worker.call(i);
          if (i % 1000 == 0) logMessage("message.\n", 0, 0);
        }
      });
    }
    for (std::thread& t : threads) t.join();
  }
  CReportFactory::getInstance(kLog.c_str())->flush();

  const std::regex line(
      " *(class Worker::call\\(\\) at 0x[0-9A-F]{16}: (started\\.|returned: 0x0\\.)"
      "|worker [0-7] call [0-9]+ body\\.|message\\."
      "|class Worker at 0x[0-9A-F]{16}:|Size: 0x[0-9A-F]+ Bytes constructed\\.|destructed\\.)");
  std::istringstream in(ft::readFile(kLog));
  std::string text;
  int lines = 0;
  std::set<std::string> bodies;
  while (std::getline(in, text)) {
    ++lines;
    ASSERT_TRUE(std::regex_match(text, line)) << "line " << lines << ": " << text;
    const size_t at = text.find("worker ");
    if (at != std::string::npos) bodies.insert(text.substr(at));
  }
  EXPECT_EQ(bodies.size(), static_cast<size_t>(kThreads * kCalls));
  EXPECT_EQ(lines, kThreads * kCalls * 3 + kThreads * 10 + kThreads * 4);
}

TEST(LoggingThreads, ConcurrentFirstRequestsShareOneReport) {
  ft::writeFile("C:\\logs\\keep", "");
  constexpr int kThreads = 8;
  std::vector<CReport*> reports(kThreads, nullptr);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([t, &reports] {
      reports[static_cast<size_t>(t)] = CReportFactory::getInstance(kLog.c_str());
      reports[static_cast<size_t>(t)]->write(0, "x\n");
    });
  for (std::thread& t : threads) t.join();
  for (CReport* r : reports) EXPECT_EQ(r, reports[0]);
  reports[0]->flush();
  std::string expected;
  for (int i = 0; i < kThreads; ++i) expected += "x\n";
  EXPECT_EQ(ft::readFile(kLog), expected);
}

}  // namespace
