// The card operations of the checking library on simulated cards behind the
// real pcscd: the signer certificate and its qualified flag, each failure with
// its log line and code, and a card signature wrapped into a PKCS#7 that both
// OpenSSL and the library's own check accept.
#include <gtest/gtest.h>

#include <openssl/bio.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "VariantSupport.h"
#include "cardaccess/reader/CReader.h"
#include "cardsim/pcscbed.h"
#include "cardvariant/CReaderFactory.h"
#include "cardvariant/CSCard.h"
#include "cardvariant/Utilities.h"
#include "certcheck/ReaderUtils.h"
#include "certcheck/card/ReaderUtils_card.h"
#include "platform/window_test.h"
#include "quarvel_test.h"

namespace {

using namespace varianttest;

std::string atrOf(const std::string& profileName) {
  const cardsim::Bytes atr = profile(profileName).atr;
  std::string text;
  cardvariant::bytesToBase64(std::string(atr.begin(), atr.end()), text);
  return text;
}

std::string lowerHex(const std::string& text) {
  std::string out = hex(text);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

class CardOperations : public testing::Test {
 protected:
  static void SetUpTestSuite() { trace_ = new std::string(quarveltest::makeTempDirectory("trace") + "/card.log"); }
  static void TearDownTestSuite() { delete trace_; }

  // The plug-in's settings for the plain reader of the bed (or a reader that
  // is not there) with the D-Trust and OCard lists.
  void configure(const std::string& readerName) {
    clearSettings();
    setText("Reader", "CTAPI", "PCSC");
    setText("Reader", "Status0", lowerHex(readerName));
    setText("", "DTrust0", atrOf("dtrust-plugin"));
    setText("", "oCard0", atrOf("asign"));
    setText("", "oCardHash0", "SHA256");
    setText("", "LogFileName", *trace_);  // read once, with the first logging object
    setDword("", "LogLevel", 6);
    settings_ = std::make_unique<FreshSettings>();
  }
  // Releases the reader, so that the next settings make a new one.
  void TearDown() override {
    try {
      if (cardvariant::CReader* reader = cardvariant::CReaderFactory::getInstance())
        cardvariant::CReaderFactory::releaseInstance(reader);
    } catch (...) {
      // settings that make no reader hold none
    }
    settings_.reset();
  }
  // The log lines written since the mark.
  std::string logSince(size_t mark) const { return readFile(*trace_).substr(mark); }
  size_t mark() const { return readFile(*trace_).size(); }

  cardsim::PcscBed bed_;
  std::unique_ptr<FreshSettings> settings_;
  static std::string* trace_;
};
std::string* CardOperations::trace_ = nullptr;

struct Read {
  DWORD rc;
  std::string certificate;
  bool qualified;
};

Read readFromCard(unsigned int capacity = 4096) {
  std::string buffer(capacity, '\0');
  unsigned int length = capacity;
  bool qualified = true;
  DWORD rc = readCertificateFromCard(reinterpret_cast<unsigned char*>(&buffer[0]), &length, &qualified);
  return {rc, rc == 0 ? buffer.substr(0, length) : std::string(), qualified};
}

TEST_F(CardOperations, ReadsTheSignerCertificateOfEachCardType) {
  struct Row {
    const char* profile;
    const char* key;
  };
  for (const Row& row : {Row{"dtrust-plugin", "dtrust-sig"}, Row{"asign", "asign-sig"}}) {
    bed_.insert(cardsim::PcscBed::kPlain, row.profile);
    configure(bed_.name(cardsim::PcscBed::kPlain));
    const Read read = readFromCard();
    ASSERT_EQ(read.rc, 0u) << row.profile;
    EXPECT_EQ(read.certificate, certificate(row.key)) << row.profile;
    bool expected = true;
    ASSERT_EQ(isQualifiedCertificate(reinterpret_cast<const unsigned char*>(read.certificate.data()),
                                     static_cast<unsigned int>(read.certificate.size()), &expected),
              0u);
    EXPECT_EQ(read.qualified, expected) << row.profile;
    // A buffer too small gets nothing.
    EXPECT_EQ(readFromCard(static_cast<unsigned int>(read.certificate.size() - 1)).rc, cardutils::kCardFailed);
    TearDown();
    bed_.remove(cardsim::PcscBed::kPlain);
  }
}

TEST_F(CardOperations, EachFailureHasItsLogLineAndCode) {
  // No reader of that name.
  configure("Nowhere Reader");
  size_t at = mark();
  EXPECT_EQ(readFromCard().rc, cardutils::kNoReader);
  EXPECT_NE(logSince(at).find("Kein geeignetes Terminal gefunden.\n"), std::string::npos);
  TearDown();

  // The reader without a card.
  configure(bed_.name(cardsim::PcscBed::kPlain));
  at = mark();
  EXPECT_EQ(readFromCard().rc, cardutils::kNoCard);
  EXPECT_NE(logSince(at).find("Keine Signaturkarte gefunden.\n"), std::string::npos);
  TearDown();

  // A card the lists know, whose certificate file holds no certificate.
  cardsim::CardProfile broken = profile("dtrust-plugin");
  for (auto& file : broken.files)
    if (!file.path.empty() && file.path.back() == 0xC000) file.content.assign(64, 0xFF);
  bed_.insert(cardsim::PcscBed::kPlain, broken);
  configure(bed_.name(cardsim::PcscBed::kPlain));
  at = mark();
  EXPECT_EQ(readFromCard().rc, cardutils::kCardFailed);
  EXPECT_NE(logSince(at).find("Das Zertifikat konnte nicht gelesen werden.\n"), std::string::npos);
  TearDown();
  bed_.remove(cardsim::PcscBed::kPlain);

  // A card connected, then taken out.
  bed_.insert(cardsim::PcscBed::kPlain, "dtrust-plugin");
  configure(bed_.name(cardsim::PcscBed::kPlain));
  cardvariant::CReader* reader = cardvariant::CReaderFactory::getInstance();
  ASSERT_NE(reader, nullptr);
  ASSERT_EQ(reader->connect(0), 0);
  bed_.remove(cardsim::PcscBed::kPlain);
  at = mark();
  EXPECT_EQ(readFromCard().rc, cardutils::kCardFailed);
  EXPECT_NE(logSince(at).find("Die Signaturkarte wurde wieder entfernt.\n"), std::string::npos);
  TearDown();

  // The card library's exception (a reader name that is not hex) ends as a code.
  configure("");
  setText("Reader", "Status0", "51756xrz");
  settings_ = std::make_unique<FreshSettings>();
  EXPECT_EQ(readFromCard().rc, cardutils::kException);
}

// OpenSSL's own check of a detached SignedData over the data, with the
// certificate inside as the only one trusted for the signature (no chain).
bool opensslVerifies(const std::string& signedData, const std::string& data) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(signedData.data());
  std::unique_ptr<PKCS7, void (*)(PKCS7*)> p7(d2i_PKCS7(nullptr, &p, static_cast<long>(signedData.size())),
                                              PKCS7_free);
  if (!p7) return false;
  std::unique_ptr<BIO, int (*)(BIO*)> in(BIO_new_mem_buf(data.data(), static_cast<int>(data.size())), BIO_free);
  return PKCS7_verify(p7.get(), nullptr, nullptr, in.get(), nullptr, PKCS7_NOVERIFY) == 1;
}

TEST_F(CardOperations, SignsWithThePinAndWrapsTheSignatureIntoPKCS7) {
  const std::string data = "%PDF-1.4 the signed byte ranges of a document";
  struct Row {
    const char* profile;
    const char* pin;
  };
  for (const Row& row : {Row{"dtrust-plugin", "12345678"}, Row{"asign", "123456"}}) {
    bed_.insert(cardsim::PcscBed::kPlain, row.profile);
    configure(bed_.name(cardsim::PcscBed::kPlain));
    // The wait dialog shows the configured text while the card signs, and goes.
    setWaitDialog(GetModuleHandleA(nullptr), 140, 1001, "Bitte warten, die Karte signiert.");
    HWND shown = nullptr;
    std::string shownText;
    platform::wintest::onNextDialog([&](HWND dialog) {
      shown = dialog;
      char text[128] = {};
      GetDlgItemTextA(dialog, 1001, text, sizeof text);
      shownText = text;
    });
    int asked = 0;
    std::string signedData;
    ASSERT_EQ(signWithCard(reinterpret_cast<const unsigned char*>(data.data()), static_cast<unsigned int>(data.size()),
                           [&](std::string& pin) {
                             ++asked;
                             pin = row.pin;
                             return true;
                           },
                           signedData),
              0u)
        << row.profile;
    EXPECT_EQ(asked, 1);
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shownText, "Bitte warten, die Karte signiert.");
    EXPECT_FALSE(IsWindow(shown));
    bool qualified = false;
    EXPECT_EQ(verifyPKCS7Signature(reinterpret_cast<const unsigned char*>(data.data()),
                                   static_cast<unsigned int>(data.size()),
                                   reinterpret_cast<const unsigned char*>(signedData.data()),
                                   static_cast<unsigned int>(signedData.size()), &qualified),
              0u)
        << row.profile;
    EXPECT_TRUE(opensslVerifies(signedData, data)) << row.profile;
    EXPECT_FALSE(opensslVerifies(signedData, data + "x")) << row.profile;

    // A wrong PIN and a cancelled entry sign nothing.
    std::string none;
    EXPECT_EQ(signWithCard(reinterpret_cast<const unsigned char*>(data.data()), static_cast<unsigned int>(data.size()),
                           [](std::string& pin) {
                             pin = "999999";
                             return true;
                           },
                           none),
              cardutils::kCardFailed);
    EXPECT_EQ(signWithCard(reinterpret_cast<const unsigned char*>(data.data()), static_cast<unsigned int>(data.size()),
                           [](std::string&) { return false; }, none),
              cardutils::kCardFailed);
    EXPECT_TRUE(none.empty());
    TearDown();
    bed_.remove(cardsim::PcscBed::kPlain);
  }
}

// A file type the card layer does not know makes its read throw: the operation
// ends with the library's exception code, and leaves neither the reader locked nor
// the file open.
TEST_F(CardOperations, AnExceptionLeavesTheReaderUnlockedAndNoFileOpen) {
  cardsim::CardProfile odd = profile("dtrust-plugin");
  for (auto& file : odd.files)
    if (file.path == cardsim::FilePath{0x3F00, 0x5015, 0xC000}) file.structure = cardsim::FileStructure::Dedicated;
  bed_.insert(cardsim::PcscBed::kPlain, odd);
  configure(bed_.name(cardsim::PcscBed::kPlain));
  EXPECT_EQ(readFromCard().rc, cardutils::kException);
  std::shared_ptr<cardvariant::CReader> reader = cardvariant::CReaderFactory::getSharedInstance();
  ASSERT_NE(reader, nullptr);
  bool free = false;
  std::thread([&] {
    free = TryEnterCriticalSection(reader->lockSection().get()) != FALSE;
    if (free) LeaveCriticalSection(reader->lockSection().get());
  }).join();
  EXPECT_TRUE(free);
  ASSERT_NE(reader->getCard(), nullptr);
  EXPECT_EQ(reader->getCard()->getFileInfo(0), nullptr);
}

// Threads read the certificate and sign documents of their own while another
// releases the reader ten times: each call ends with a result (a reader made
// meanwhile may find the card still held by the old one: no card), and every
// signature verifies over its own document.
TEST_F(CardOperations, ThreadsReadAndSignWhileTheReaderIsReleased) {
  bed_.insert(cardsim::PcscBed::kPlain, "asign");
  configure(bed_.name(cardsim::PcscBed::kPlain));
  std::mutex lock;
  std::map<DWORD, int> results;
  auto note = [&](DWORD rc) {
    std::lock_guard<std::mutex> hold(lock);
    ++results[rc];
  };
  std::atomic<int> verified{0};
  std::atomic<bool> done{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&] {
      while (!done) note(readFromCard().rc);
    });
  }
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; !done || round < 2; ++round) {
        const std::string data = "document " + std::to_string(t) + "/" + std::to_string(round);
        std::string signedData;
        const DWORD rc = signWithCard(reinterpret_cast<const unsigned char*>(data.data()),
                                      static_cast<unsigned int>(data.size()),
                                      [](std::string& pin) {
                                        pin = "123456";
                                        return true;
                                      },
                                      signedData);
        note(rc);
        if (rc == 0) {
          EXPECT_TRUE(opensslVerifies(signedData, data)) << data;
          ++verified;
        }
      }
    });
  }
  // Releases spread over the whole run: two more calls ended before each.
  auto ended = [&] {
    std::lock_guard<std::mutex> hold(lock);
    int n = 0;
    for (const auto& entry : results) n += entry.second;
    return n;
  };
  for (int round = 0; round < 10; ++round) {
    const int before = ended();
    if (!quarveltest::eventually([&] { return ended() >= before + 2; })) {
      ADD_FAILURE() << "the calls stopped";
      break;
    }
    std::shared_ptr<cardvariant::CReader> reader = cardvariant::CReaderFactory::getSharedInstance();
    note(reader ? static_cast<DWORD>(cardvariant::CReaderFactory::releaseInstance(reader.get())) : 2u);
  }
  done = true;
  for (auto& t : threads) t.join();
  for (const auto& [rc, n] : results)
    EXPECT_TRUE(rc == 0 || rc == 1 || rc == cardutils::kNoCard) << std::hex << rc << " x" << std::dec << n;
  EXPECT_GT(results[0], 0);
  EXPECT_GT(verified.load(), 0);
}

TEST(BuildPKCS7, EncodingFailuresHaveTheirCodes) {
  const std::string cert = certificate("dtrust-sig");
  std::string out;
  EXPECT_EQ(buildPKCS7SignedData("not a certificate", "sig", 1, out), cardutils::kBadCertificate);
  EXPECT_EQ(buildPKCS7SignedData(cert, "sig", 7, out), cardutils::kBadDigestAlgorithm);
  EXPECT_EQ(buildPKCS7SignedData(cert, "", 1, out), cardutils::kNoSignatureValue);
  EXPECT_TRUE(out.empty());
  for (int alg : {1, 2, 3}) EXPECT_EQ(buildPKCS7SignedData(cert, "sig", alg, out), 0u) << alg;
}

}  // namespace
