// The reader a user chose: exactly the values that the reader selection writes to
// the Reader0 settings.
#pragma once

class ReaderChoice {
 public:
  // Copies the texts with their terminating zero, cut to what the fields hold
  // (254, 9 and 31 characters), and the two flags.
  ReaderChoice(const char* readerName, const char* port, const char* ctapi, unsigned char isSecure,
               unsigned char useGUI);

  const char* getReaderName() const { return ReaderName; }
  const char* getPort() const { return Port; }
  const char* getCTAPI() const { return ctapi; }
  unsigned char getSecure() const { return isSecure; }
  unsigned char getUseGUI() const { return UseGUI; }

 private:
  char ReaderName[255];
  char Port[10];
  char ctapi[32];
  unsigned char isSecure;
  unsigned char UseGUI;
};
