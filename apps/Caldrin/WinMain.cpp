// Caldrin's entry: started by an installer or by hand, it takes no arguments and
// always ends with 0, whatever the outcome.
#include "Caldrin.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  installRootCertificates("Zertifikate werden heruntergeladen", nullptr, instance, 9, 1003);
  return 0;
}
