// The menu command "Download root certificates": the certification authority's bundle of
// root and intermediate certificates into the user's "Root" and "CA" stores (through the
// checking library's download and import), and the maker's FDF of trusted identities
// handed to the viewer's PubSec data import. A progress dialog runs meanwhile; one error
// box reports a failure.
#pragma once

#include <string>

// The execute procedure of the menu item "VOQ:Certs"; the client data is not used.
void VOQ_CardSignature_Certs(void* clientData);

// Where the two files come from: https URLs, fetched with the server verified.
const std::string& certificateBundleUrl();
const std::string& certificateFileUrl();
// Points both at other https URLs (a test's servers on 127.0.0.1); empty texts restore
// the product's own.
void setCertificateDownloadUrls(const std::string& bundleUrl, const std::string& fileUrl);
