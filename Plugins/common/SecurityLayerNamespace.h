// The Security Layer namespace URIs the local server writes into its replies. The host
// part is one constant, shared with the test server, so that prefixed replies are
// recognised only when both sides agree on it.
#pragma once

#define SL_NAMESPACE_HOST "http://www.quarvel.example"
#define SL10_NAMESPACE SL_NAMESPACE_HOST "/namespaces/securitylayer/20020225#"
#define SL11_NAMESPACE SL_NAMESPACE_HOST "/namespaces/securitylayer/20020831#"
