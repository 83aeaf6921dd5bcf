// The PubSec signature handler "Dor:valin": the handler record registered with the
// viewer and its 19 callbacks. The handler only verifies; signing is refused.
#pragma once

#include "pisdk/PITypes.h"

class DSEngine;

// The handler module object: holds no data; its existence means the plug-in went on
// loading (see DocSignInit).
class DSHandler {};

// Builds the record, creates the registered engine and registers the record with the
// host. False when the host refuses it (the handler is then torn down at once), when
// PubSecHFT is missing or when the handler is registered already.
bool Register();
// Unregisters the record, deletes the registered engine, destroys the callbacks.
void Unregister();

// The registered handler record while the handler is registered, else null; its engine.
PubSecHandlerRec* currentPubSecHandler();
PubSecEngine currentPubSecEngine();

// The appearance logo: the content stream (no final line end) and its bounding box.
const char* appearanceLogoStream();
const ASFixedRect& appearanceLogoBox();
