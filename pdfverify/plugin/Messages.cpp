#include "Messages.h"

#include <cstdio>

#include "PluginState.h"

namespace {

struct Text {
  const char* de;
  const char* en;
};

const char* pick(const Text& t, int lang) { return lang == 1 ? t.de : t.en; }

struct CodeRow {
  uint32_t code;
  Text text;
};

// 0x80000009 is a format: see getErrorMessage.
const CodeRow codeRows[] = {
    {0x00000000, {"Kein Fehler", "No error"}},
    {0x80000001, {"Ungültiger Parameter.", "Invalid parameter."}},
    {0x80000002, {"Der Puffer ist zu klein.", "Insufficient buffer."}},
    {0x80000004, {"Es wurde kein Kartenlesegerät gefunden.", "No card terminal found."}},
    {0x80000005, {"Ein unerwarteter Fehler ist aufgetreten.", "Unexpected error."}},
    {0x80000006, {"Die Funktion wurde abgebrochen.", "The function was aborted."}},
    {0x80000007, {"Es ist nicht genügend Speicher vorhanden.", "Not enough memory."}},
    {0x80000008, {"Die kryptographische Operation ist fehlgeschlagen.", "Crypto operation failed."}},
    {0x80000009,
     {"Die Signatur wurde mit einer neueren Version von %s erstellt, und kann deshalb nicht geprüft werden.",
      "The signature has been created with a newer version of %s. Therefore it cannot be validated correctly."}},
    {0x80010000, {"Die eingelegte Karte wird nicht unterstützt.", "The inserted card is not a supported card."}},
    {0x80020000, {"Unbekannter PIN - Fehler.", "PIN - error."}},
    {0x80020100, {"Die PINs stimmen nicht überein.", "The PINs are not identical."}},
    {0x80020200, {"Die Zeit für die PIN-Eingabe ist abgelaufen.", "Time for PIN is expired."}},
    {0x80020300, {"Die PIN ist gesperrt.", "The PIN is blocked."}},
    {0x80020400, {"Die PIN ist falsch.", "The PIN is incorrect."}},
    {0x80030000, {"Unbekannter Fehler mit der Zertifikatskette.", "Unknown error with certificate chain."}},
    {0x80030001, {"Die Zertifikatskette ist ungültig.", "Certificate chain invalid."}},
    {0x80030002, {"Ein Zertifikat der Zertifikatskette ist ungültig.",
                  "A certificate from the certificate chain was invalid at the signing time."}},
    {0x80030005, {"Ein Schlüsselbezeichner eines Zertifikats der Kette ist ungültig.",
                  "A key-identifier of a certificate in the chain is invalid."}},
    {0x80030006, {"Die Verkettung der Zertifikatskette ist ungültig.", "Certificate chain has invalid chaining."}},
    {0x80030008, {"Ein Zertifikat der Zertifikatskette hat eine ungültige Verwendung.",
                  "A certificate in the certificate chain has an invalid usage."}},
    {0x80030009, {"Ein Zertifikat der Kette hat ungültige Einschränkungen.",
                  "A certificate in the chain has invalid constraints."}},
    {0x8003000A, {"Ein Zertifikat der Kette hat eine ungültige Erweiterung.",
                  "A certificate in the chain has an invalid extension."}},
    {0x8003000B, {"Ein Zertifikat der Kette war zum angegebenen Zeitpunkt widerrufen.",
                  "A certificate in the chain was revoked at the given time."}},
    {0x8003000C, {"Der Status des Zertifikats konnte nicht ermittelt werden.",
                  "The state of the certificate could not be evaluated."}},
    {0x8003000D, {"Dem Stammzertifikat wird nicht vertraut.", "The root certificate is not trusted."}},
    {0x8003000E, {"Die Gültigkeitsdauer der Sperrliste ist abgelaufen.",
                  "The validity period of the revocation list is expired."}},
    {0x8003000F, {"Bei der Sperrprüfung des Zertifikats ist ein Fehler aufgetreten.",
                  "An error occurred during the certificate revocation check."}},
    {0x80040000, {"Ein unbekannter Fehler ist bei der Zertifikatsvalidierung aufgetreten.",
                  "Unknown error with the certificate."}},
    {0x80040001, {"Das Zertifikat hat eine ungültige Kodierung", "The certificate has an invalid encoding"}},
    {0x80040002, {"Das Zertifikat ist nicht gültig.", "The certificate is not valid."}},
    {0x80040003, {"Die Signatur des Zertifikats ist ungültig.", "The signature of the certificate is invalid."}},
    {0x80040004, {"Die Schlüsselverwendung des Zertifikats ist ungültig.",
                  "The key usage of the certificate is invalid."}},
    {0x80040005, {"Das Zertifikat enthält keinen RSA-Schlüssel.", "The certificate does not contain a RSA key."}},
    {0x80040006, {"Das Zertifikat verwendet ein ungültiges Padding.", "The certificate uses an invalid padding."}},
    {0x80040008, {"Das Zertifikat enthält eine ungültige Erweiterung.",
                  "The certificate contains an invalid extension."}},
    {0x80040009, {"Das Zertifikat hat ungültige Einschränkungen.", "The certificate has invalid constraints."}},
    {0x8004000A, {"Das Zertifikat ist kein X509-Zertifikat.", "The certificate is not a X509 certificate."}},
    {0x8004000B, {"Die Gültigkeit des Zertifikats war zum angegebenen Zeitpunkt abgelaufen.",
                  "The validity of the certificate was expired at the given time."}},
    {0x8004000C, {"Die Gültigkeit des Zertifikates konnte nicht geprüft werden.", "The certificate is invalid."}},
    {0x80050000, {"Die Signatur ist gültig (Das Dokument wurde seit dem Unterschreiben nicht geändert).",
                  "The signature is valid (The document has not been changed since it was signed)."}},
    {0x80050001, {"Die Signatur ist ungültig (Das Dokument wurde nach dem Unterschreiben geändert).",
                  "The signature is not valid (The document is changed)."}},
    {0x80060000, {"Der Zeitpunkt der Signaturerstellung konnte nicht ermittelt werden.",
                  "Could not evaluate the time of signing."}},
    {0x80070001, {"Die OCSP-Anfrage konnte nicht erstellt werden.", "Can not create OCSP request."}},
    {0x80070002, {"Der OCSP-Anfrage konnte keine NONCE hinzugefügt werden.", "Can not add NONCE to OCSP request."}},
    {0x80070003, {"Die Zertifikate der OCSP-Anfrage konnten nicht gesetzt werden.",
                  "Can not set certificates to OCSP request."}},
    {0x80070004, {"Die OCSP_CERTID der OCSP-Anfrage konnte nicht gesetzt werden.",
                  "Can not set OCSP_CERTID in OCSP request."}},
    {0x80070005, {"Die OCSP-URL konnte nicht gelesen werden.", "Can not parse OCSP URL."}},
    {0x80070006, {"Es konnte kein neues Verbindungsobjekt erstellt werden.", "Can not create new connection object."}},
    {0x80070007, {"Es konnte keine Verbindung zur OCSP-URL aufgebaut werden.", "Can not connect to OCSP URL."}},
    {0x80070008, {"Die OCSP-Anfrage konnte nicht gesendet werden.", "Can not send OCSP request."}},
    {0x80070009, {"Die OCSP-Antwort hat einen ungültigen Status.", "Invalid OCSP response state was returned."}},
    {0x8007000A, {"Aus der OCSP-Antwort konnte keine Basisantwort gelesen werden.",
                  "Can not get basic response out of OCSP response."}},
    {0x8007000B, {"Die NONCE konnte nicht geprüft werden.", "Can not verify NONCE."}},
    {0x8007000C, {"Die Basisantwort konnte nicht geprüft werden.", "Can not verify basic response."}},
    {0x8007000D, {"Das Zertifikat der OCSP-Antwort konnte nicht gefunden werden.",
                  "Can not find OCSP response certificate."}},
    {0x8007000E, {"Das Zertifikat der OCSP-Antwort konnte nicht gelesen werden.",
                  "Can not read OCSP response certificate."}},
    {0x8007000F, {"Die Zertifikatskette des Zertifikats der OCSP-Antwort konnte nicht gebildet werden.",
                  "Can not build certificate chain of the OCSP response certificate."}},
    {0x80070010, {"Die Sperrliste für das Zertifikat der OCSP-Antwort konnte nicht geladen werden.",
                  "Can not download CRL for the OCSP response certificate."}},
    {0x80070011, {"Das Zertifikat der OCSP-Antwort ist widerrufen.", "OCSP response certificate is revoked."}},
    {0x80070012, {"Der OCSP-Status des Signaturzertifikats konnte nicht ermittelt werden.",
                  "Can not get OCSP state of the signing certificate."}},
    {0x80070013, {"Das Zeitintervall der OCSP-Antwort ist ungültig.", "Time interval of the OCSP response is invalid."}},
    {0x80070014, {"Das Signaturzertifikat ist widerrufen.", "Signing certificate is revoked."}},
    {0x80070015, {"Der OCSP-Status des Signaturzertifikats ist unbekannt.",
                  "The OCSP state of the signing certificate is unknown."}},
    {0x80070016, {"Es konnte kein neues Verbindungsobjekt über den HTTP-Proxy erstellt werden.",
                  "Can not create new connection object through HTTP proxy."}},
    {0x80070017, {"Es konnte keine Verbindung zur OCSP-URL über den HTTP-Proxy aufgebaut werden.",
                  "Can not connect to OCSP URL through HTTP proxy."}},
    {0x80070018, {"Es konnte keine Verbindung zur OCSP-URL über den HTTPS-Proxy aufgebaut werden.",
                  "Can not connect to OCSP URL through HTTPS proxy."}},
    {0x80070019, {"Es konnte kein neues Verbindungsobjekt über den HTTPS-Proxy erstellt werden.",
                  "Can not create new connection object through HTTPS proxy."}},
    {0x8007001A, {"Der HTTPS-Proxy konnte keinen SSL-Tunnel aufbauen.", "HTTPS Proxy can not create SSL tunnel."}},
    {0x8007001B, {"Beim Aufbau eines SSL-Tunnels über den HTTPS-Proxy ist ein Fehler im SSL-Handshake aufgetreten.",
                  "SSL Handshake Error at creation of a SSL tunnel through HTTPS proxy."}},
    {0x8007001C,
     {"Es konnte keine Verbindung zum HTTP-Proxy aufgebaut werden.\nÜberprüfen Sie die Proxy-Einstellungen und "
      "Ihre Netzwerkverbindung(en).",
      "HTTP proxy can not be found.\nCheck proxy and network settings."}},
    {0x8007001D,
     {"Es konnte keine Verbindung zum HTTPS-Proxy aufgebaut werden.\nÜberprüfen Sie die Proxy-Einstellungen und "
      "Ihre Netzwerkverbindung(en).",
      "HTTPS proxy can not be found.\nCheck proxy and network settings."}},
    {0x8007001E, {"Die Zertifikatskette für die OCSP-Sperrprüfung ist ungültig.",
                  "The certificate chain for the OCSP revocation check is invalid."}},
    {0x8007001F, {"Bei der OCSP-Sperrprüfung wurde ein ungültiger HTTP Returncode zurückgegeben.",
                  "During the OCSP revocation check a invalid HTTP return code was delivered."}},
    {0x80070020, {"Der HTTP Returncode konnte bei der OCSP-Sperrprüfung nicht ermittelt werden.",
                  "The HTTP return code could not be found during the OCSP revocation check."}},
    {0x80070021, {"Bei der OCSP-Sperrprüfung wurden keine Daten zurückgegeben.",
                  "During the OCSP revocation check no data were returned."}},
    {0x80070022, {"Für die Zertifikatsvalidierung konnte keine OCSP-URL gefunden werden.",
                  "No OCSP-URl could be found for certificate valitation."}},
    {0x80080000, {"Der konfigurierte Hash-Algorithmus wird nicht unterstützt.",
                  "Configured digest algorithm is not supported."}},
    {0x80080001, {"Der konfigurierte Hash-Algorithmus kann mit dem gewählten Schlüsseltyp nicht verwendet werden.",
                  "Configured digest algorithm can not be used with selected key type."}},
    {0x80080002, {"Das Zertifikat kann nicht umgewandelt werden.", "Certificate can not be converted."}},
    {0x80080003, {"Es konnte kein neues PKCS#7-Objekt erstellt werden.", "Can not create new pkcs#7 object."}},
    {0x80080004, {"Der Typ des PKCS#7-Objekts konnte nicht gesetzt werden.", "Can not set type of pkcs7 object."}},
    {0x80080005, {"Der PKCS#7-Inhalt konnte nicht erstellt werden.", "Can not create pkcs#7 content."}},
    {0x80080006, {"Das Zertifikat konnte dem PKCS#7-Objekt nicht hinzugefügt werden.",
                  "Can not add certificate to pkcs#7 object."}},
    {0x80080007, {"Das SignerInfo-Objekt konnte nicht erstellt werden.", "Can not create signerInfo object."}},
    {0x80080008, {"Die Version des SignerInfo-Objekts konnte nicht gesetzt werden.",
                  "Can not set version of signerInfo object."}},
    {0x80080009, {"Der Aussteller im SignerInfo-Objekt konnte nicht gesetzt werden.",
                  "Can not set issuer in signerInfo object."}},
    {0x8008000A, {"Die Seriennummer des Ausstellers im SignerInfo-Objekt konnte nicht gesetzt werden.",
                  "Can not set serial of issuer in signerInfo object."}},
    {0x8008000B, {"Der Hash-Algorithmus im SignerInfo-Objekt konnte nicht gesetzt werden.",
                  "Can not set digest algorithm in signerInfo object."}},
    {0x8008000C, {"Das signierte Attribut 'ContentType' konnte nicht gesetzt werden.",
                  "Can not set signedAttribute 'ContentType'."}},
    {0x8008000D, {"Das signierte Attribut 'MessageDigest' konnte nicht gesetzt werden.",
                  "Can not set signedAttribute 'MessageDigest'."}},
    {0x8008000E, {"Das SignerInfo-Objekt konnte dem PKCS#7-Objekt nicht hinzugefügt werden.",
                  "Can not add signerInfo object to pkcs#7 object."}},
    {0x8008000F, {"Der ECC-Schlüssel konnte nicht gelesen werden.", "Can not get ecc key."}},
    {0x80080010, {"Der ECC-Punkt konnte nicht gelesen werden.", "Can not read ecc point."}},
    {0x80080011, {"Die ECC-Gruppe konnte nicht gelesen werden.", "Can not read ecc group."}},
    {0x80080012, {"Die ECC-Koordinaten konnten nicht gelesen werden.", "Can not read ecc coordinates."}},
    {0x80090001, {"Die Vorbereitung zum Lesen der Zertifikatserweiterung \"Authority Info Access\" ist fehlgeschlagen.",
                  "Preparation of reading the certificate extension \"Authority Info Access\" fails."}},
    {0x80090002, {"Das Lesen der Zertifikatserweiterung \"Authority Info Access\" ist fehlgeschlagen.",
                  "Reading the certificate extension \"Authority Info Access\" failed."}},
    {0x80090003, {"Die Zugriffsmethode der Zertifikatsvalidierung konnte nicht gelesen werden.",
                  "Can not read access method of the certificate validation."}},
    {0x80090004, {"Es konnte keine OCSP-URL gefunden werden.", "No OCSP URL can be found."}},
    {0x800A0002,
     {"Es konnte keine Verbindung zum HTTP-Proxy aufgebaut werden.\nÜberprüfen Sie die Proxy-Einstellungen und "
      "Ihre Netzwerkverbindung(en).",
      "HTTP proxy can not be found.\nCheck proxy and network settings."}},
    {0x800A0003, {"Der Sperrlisten-Verteilungspunkt kann nicht aus dem Zertifikat gelesen werden.",
                  "CRL distribution point cannot be read from certificate."}},
    {0x800A0004, {"Die benötigte Größe für den Sperrlisten-Verteilungspunkt konnte nicht ermittelt werden.",
                  "Getting required size for CRL distribution point failed."}},
    {0x800A0005, {"Für den Verteilungspunkt kann kein Speicher reserviert werden.",
                  "Memory for distribution point cannot be allocated."}},
    {0x800A0006, {"Fehler beim Lesen des Verteilungspunkts.", "Error reading distribution point."}},
    {0x800A0007, {"Das Lesen der Informationen des Verteilungspunkts ist fehlgeschlagen.",
                  "Reading information from distribution point failed."}},
    {0x800A0008, {"Das Lesen der URL des Verteilungspunkts ist fehlgeschlagen.",
                  "Reading distribution point URL failed."}},
    {0x800A0009, {"Es konnte kein neues Verbindungsobjekt über den HTTP-Proxy erstellt werden.",
                  "Can not create new connection object through HTTP proxy."}},
    {0x800A000A, {"Der HTTP-Proxy hat eine ungültige Antwort geliefert.", "HTTP proxy returned invalid answer."}},
    {0x800A000B, {"Fehler bei der Kommunikation mit dem HTTP-Proxy.", "Communication error with HTTP proxy."}},
    {0x800A000C, {"Fehler beim Herunterladen der Sperrliste über den HTTP-Proxy.",
                  "Error downloading CRL through HTTP proxy."}},
    {0x800A000D, {"Über den HTTP-Proxy wurde keine Sperrliste geladen.", "No CRL downloaded through HTTP proxy."}},
    {0x800A000E, {"Die Sperrliste, die über den HTTP-Proxy geladen wurde, konnte nicht gelesen werden.",
                  "CRL downloaded through HTTP proxy cannot be read."}},
    {0x800A000F, {"Für die geladene Sperrliste kann kein Speicher reserviert werden.",
                  "Memory for loaded CRL cannot be allocated."}},
    {0x800A0010, {"Der HTTP Returncode konnte beim Herunterladen der Sperrliste über den HTTP-Proxy nicht ermittelt "
                  "werden.",
                  "Can not find HTTP return code for downloaded CRL through HTTP proxy."}},
    {0x800A0011, {"Beim Herunterladen der Sperrliste über den HTTP-Proxy wurde ein ungültiger HTTP Returncode "
                  "zurückgegeben.",
                  "Invalid HTTP return code during downloading CRL through HTTP proxy."}},
    {0x800B0001,
     {"Es konnte keine Verbindung zum HTTPS-Proxy aufgebaut werden.\nÜberprüfen Sie die Proxy-Einstellungen und "
      "Ihre Netzwerkverbindung(en).",
      "HTTPS proxy can not be found.\nCheck proxy and network settings."}},
    {0x800B0002, {"Es konnte kein neues Verbindungsobjekt über den HTTPS-Proxy erstellt werden.",
                  "Can not create new connection object through HTTPS proxy."}},
    {0x800B0003, {"Fehler bei der Kommunikation mit dem HTTPS-Proxy.", "Communication error with HTTPS proxy."}},
    {0x800B0004, {"Der HTTPS-Proxy konnte keinen SSL-Tunnel aufbauen.", "HTTPS proxy cannot create SSL tunnel."}},
    {0x800B0005, {"Beim Aufbau eines SSL-Tunnels über den HTTPS-Proxy ist ein Fehler im SSL-Handshake aufgetreten.",
                  "SSL Handshake Error at creation of a SSL tunnel through HTTPS proxy."}},
    {0x800B0006, {"Der HTTPS-Proxy hat eine ungültige Antwort geliefert.", "HTTPS proxy returned invalid answer."}},
    {0x800B0007, {"Fehler beim Herunterladen der Sperrliste über den HTTPS-Proxy.",
                  "Error downloading CRL through HTTPS proxy."}},
    {0x800B0008, {"Über den HTTPS-Proxy wurde keine Sperrliste geladen.", "No CRL downloaded through HTTPS proxy."}},
    {0x800B0009, {"Die CRL, die über den HTTPS-Proxy geladen wurde, konnte nicht gelesen werden.",
                  "CRL downloaded through HTTPS proxy cannot be read."}},
    {0x800B000A, {"Fehler beim Lesen der SSL-URL des Verteilungspunkts.",
                  "Error parsing SSL URL of the distribution point."}},
    {0x800B000B, {"Der HTTP Returncode konnte beim Herunterladen der CRL über den HTTPS-Proxy nicht ermittelt werden.",
                  "Can not find HTTP return code for downloaded CRL through HTTPS proxy."}},
    {0x800B000C, {"Beim Herunterladen der CRL über den HTTPS-Proxy wurde ein ungültiger HTTP Returncode "
                  "zurückgegeben.",
                  "Invalid HTTP return code during downloading CRL through HTTPS proxy."}},
};

const char* const kSigningProduct = "Dorvalin";
const char* const kPluginName = "Tolmira";

std::string format(const char* pattern, const char* value) {
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, pattern, value);
  return buffer;
}

const Text startupTexts[] = {
    {"Es wurde kein unterstütztes Adobe Produkt von %s gefunden.", "No supported Adobe product for %s found."},
    {"Diese Version des Adobe Produkts wird von %s nicht unterstützt.",
     "This version of the Adobe product is not support by %s."},
    {"Es sind nicht alle für den Betrieb von %s notwendigen Adobe- Zusatzmodule vorhanden.",
     "Not all additional Adobe- modules which are used by %s are available."},
    {"Die Menüeinträge für %s konnten nicht erstellt werden.", "The menu entries for %s could not be constructed."},
    {"Ein interner Fehler (Crypt) ist bei der Initialisierung von %s aufgetreten.",
     "An internal error (crypt) occured during the initialization of %s."},
    {"Die Konfiguration von %s ist nicht korrekt.", "The configuration of %s is incorrect."},
    {"Ein interner Fehler (Handler) ist bei der Initialisierung von %s aufgetreten.",
     "An internal error (handler) occured during the initialization of %s."},
};

struct DialogRow {
  int id;
  Text text;
};
const DialogRow dialogTexts[] = {
    {106, {"Einstellungen", "Preferences"}},
    {125, {"Proxy-Konfiguration", "Proxy Configuration"}},
    {1000, {"OK", "OK"}},
    {1001, {"Abbrechen", "Cancel"}},
    {1037, {"Popup Fenster schließen", "Close popup windows"}},
    {1044, {"Verweise (intern/extern)", "Hyperlinks (intern/extern)"}},
    {1088, {"Druckermarkierungen", "Printer marks"}},
    {1090, {"JavaScript", "JavaScript"}},
    {1093, {"Zurücksetzen", "Reset"}},
    {1094, {"Voreinstellung", "Default"}},
    {1096, {"Formularfelder", "Form fields"}},
    {1098, {"PostScript", "PostScript"}},
    {1102, {"Notiz: Hervorhebung", "Annotation: Highlight"}},
    {1103, {"Normale Notizen", "Normal annotation"}},
    {1105, {"Video und Audio", "Video and audio"}},
    {1106, {"Zusätzliche Aktionen", "Additional Actions"}},
    {1107, {"Hilfe", "Help"}},
    {1108, {"Web Capture", "Web Capture"}},
    {1109, {"Diashow", "Slideshow"}},
    {1110, {"Alternativer text", "Alternative text"}},
    {1112, {"Anmerkungen, Links, Textänderungen (benötigen Popups):", "Annotation, Links, Textchange (using Popups):"}},
    {1116, {"Die Gültigkeit des Zertifikats soll für den Zeitpunkt der Signaturerstellung geprüft werden.",
            "Test the validity of the certificate for the moment of the signature creation."}},
    {1117, {"Die Gültigkeit des Zertifikats soll für den aktuellen Zeitpunkt geprüft werden.",
            "Test the validity of the certificate for the actual time."}},
    {1118, {"Die Gültigkeit des Zertifikats soll für einen eingegebenen Zeitpunkt geprüft werden.",
            "Test the validity of the certificate for a time given via a time dialog."}},
    {1119, {"Folgende Objekttypen sollen beim Bereinigen entfernt werden:",
            "Clean documents from the following object types:"}},
    {1120, {"Für welchen Zeitpunkt soll die Signatur geprüft werden:", "Which time is supposed for certificate validation:"}},
    {1130, {"Optionale Inhalte", "Optional contents"}},
    {1147, {"Welcher Schlüssel soll bei der Unterschriftserstellung verwendet werden:", "Signature key selection:"}},
    {1148, {"Beim Unterschreiben nachfragen.", "Ask when signing."}},
    {1149, {"Signaturerstellung mit dem Signaturschlüssel", "Create the signature with the signing key."}},
    {1150, {"Signaturerstellung mit dem Geheimhaltungsschlüssel.", "Create the signature with the certified key."}},
    {1199, {"Bitte beachten Sie, daß die Eingabe der Signatur- PIN am Kartenterminal die Erstellung einer sicheren "
            "Signatur zur Folge hat.",
            "Please notice that the entry of the signature- PIN causes the creation of a secure signature."}},
    {1202, {"Pin eigeben:", "Enter Pin:"}},
    {1203, {"Proxyserver verwenden", "Use proxy server"}},
    {1204, {"HTTP-Proxy erfordert Authentifizierung", "HTTP proxy requires authentication"}},
    {1206, {"HTTPS-Proxy erfordert Authentifizierung", "HTTPS Proxy requires authentication"}},
    {1208, {"HTTP-Proxy:", "HTTP Proxy:"}},
    {1209, {"Port:", "Port:"}},
    {1210, {"Benutzer:", "User:"}},
    {1211, {"Passwort:", "Password:"}},
    {1212, {"HTTPS-Proxy:", "HTTPS Proxy:"}},
    {1213, {"Port:", "Port:"}},
    {1214, {"Benutzer:", "User:"}},
    {1215, {"Passwort:", "Password:"}},
    {1216, {"Voreinstellung", "Default"}},
    {1217, {"Zurücksetzen", "Reset"}},
    {1218, {"OK", "OK"}},
    {1219, {"Abbrechen", "Cancel"}},
};

const Text menuTexts[] = {
    {"Tolmira", "Tolmira"},
    {"Hilfe", "Help"},
    {"Über ...", "About ..."},
    {"Einstellungen", "Preferences"},
    {"Proxy-Konfiguration", "Proxy Configuration"},
    {"Dokument bereinigen", "Clean document"},
    {"Info über Dokument", "Info about document"},
    {"Stammzertifikate herunterladen", "Download root certificates"},
};

const Text categoryTexts[] = {
    {"Popup Fenster", "Popup window"},
    {"Formularfeld", "Form field"},
    {"JavaScript", "JavaScript"},
    {"Webcapture", "webcapture"},
    {"PostScript", "PostScript"},
    {"Verweis", "Link / hyperlink"},
    {"Durckermarkierung", "printer mark"},
    {"Hervorhebung", "Highlight annotation"},
    {"normale Notizen", "normal annotation"},
    {"Multimedia", "multimedia"},
    {"Alternativer Text", "alternative text"},
    {"Transition", "transition"},
    {"zusätzliche Aktionen", "additional action"},
    {"Optionaler Inhalt", "Optional content"},
};

const Text labelTexts[] = {
    {"Grund", "Reason"},
    {"Veränderliche Inhalte im angezeigten Dokument", "dynamic content in the shown document"},
    {"Objekt der Kategorie", "object of category"},
    {"Schriftarten sind nicht eingebettet.", "fonts are not embedded."},
    {"Ja", "Yes"},
    {"Nein", "No"},
};

template <typename T, size_t N>
const T* at(const T (&table)[N], int index) {
  return index >= 0 && static_cast<size_t>(index) < N ? &table[index] : nullptr;
}

}  // namespace

std::string getErrorMessage(uint32_t code, int lang) {
  for (const CodeRow& row : codeRows) {
    if (row.code != code) continue;
    if (code == 0x80000009) return format(pick(row.text, lang), kSigningProduct);
    return pick(row.text, lang);
  }
  switch (code >> 16) {
    case 0x8002:
      return pick({"Unbekannter Fehler mit der PIN.", "Unknown error with PIN."}, lang);
    case 0x8003:
      return pick({"Unbekannter Fehler mit der Zertifikatskette.", "Unknown error with the certificate chain."}, lang);
    case 0x8004:
      return pick({"Unbekannter Fehler mit dem Zertifikat.", "Unknown error with the certificate."}, lang);
    default:
      return pick({"Unbekannter QXL Fehler.", "Unknown error."}, lang);
  }
}

int errorMessageRows() { return static_cast<int>(sizeof codeRows / sizeof codeRows[0]); }
uint32_t errorMessageCode(int row) { return codeRows[row].code; }

std::string getStartupErrorText(int number, int lang) {
  const Text* t = at(startupTexts, number);
  return t ? format(pick(*t, lang), kPluginName) : std::string();
}

const char* getDialogText(int id, int lang) {
  for (const DialogRow& row : dialogTexts) {
    if (row.id == id) return pick(row.text, lang);
  }
  return nullptr;
}

const char* getMenuText(int number, int lang) {
  const Text* t = at(menuTexts, number);
  return t ? pick(*t, lang) : nullptr;
}

const char* getCategoryText(int category, int lang) {
  const Text* t = at(categoryTexts, category);
  return t ? pick(*t, lang) : pick({"Unbekannt", "unknown"}, lang);
}

const char* getLabelText(int number, int lang) {
  const Text* t = at(labelTexts, number);
  return t ? pick(*t, lang) : nullptr;
}

const char* getNoSigningTimeText(int lang) {
  return pick({"Der Zeitpunkt der Signaturerstellung konnte nicht ermittelt werden.",
               "Unable to get the time and date of signing."},
              lang);
}

const char* getCertInternalErrorText(int lang) {
  return pick({"Das Zertifikat konnte aufgrung eines internen Fehlers nicht geprüft werden.",
               "The certificate could not be validated due to an internal error."},
              lang);
}

const char* getUnsupportedSignatureText(int lang) {
  return pick({"Die Signatur hat kein von Dorvalin erstelltes Format und kann nicht geprüft werden.",
               "The signature is not in a format created by Dorvalin and cannot be validated."},
              lang);
}

const char* getNoDocumentText(int lang) {
  return pick({"Es ist kein Dokument geöffnet!", "No document is open!"}, lang);
}

const char* getCleanUnavailableText(int lang) {
  return pick({"Mit Tolmira können Dokumente nicht bereinigt werden; das Dokument bleibt unverändert.",
               "Tolmira does not clean documents; the document is left unchanged."},
              lang);
}

const char* getNoSignatureFieldText(int lang) {
  return pick({"Ein Signaturfeld konnte nicht gefunden werden!", "A signature field could not be found!"}, lang);
}

const char* getAnalyzingText(int lang) {
  return pick({"Das Dokument wird analysiert ...", "The document is being analyzed ..."}, lang);
}

const char* getCleaningText(int lang) {
  return pick({"Das Dokument wird bereinigt ...", "The document is being cleaned ..."}, lang);
}

const char* getReadingCertificateText(int lang) {
  return pick({"Das Zertifikat wird von der Karte gelesen ...", "The certificate is being read from the card ..."},
              lang);
}

const char* getPinPadPromptText(int lang, int pinKind) {
  if (pinKind == 1) {
    return pick({"Bitte geben Sie die Signatur-PIN am Kartenlesegerät ein.",
                 "Please enter the signature-PIN on your smartcard terminal."},
                lang);
  }
  return pick({"Bitte geben Sie die Geheimhaltungs-PIN am Kartenlesegerät ein.",
               "Please enter the certified-PIN on your smartcard terminal."},
              lang);
}

const char* getIntegrityText(int lang, bool manipulated) {
  if (manipulated) {
    return pick({"Die Informationen über dynamische Inhalte wurden verfälscht.",
                 "The information about dynamic was manipulated."},
                lang);
  }
  return pick({"Die Informationen über dynamische Inhalte sind authentisch.",
               "The integrity of the information about dynamic content is confirmed."},
              lang);
}

const char* getIntegrityUnknownText(int lang) {
  return pick({"Fatal: Es konnte nicht festgestellt werden, ob die Informationen über dynamische Inhalte authentisch "
               "sind!",
               "Fatal: Cannot determine the integrity of the information about dynamic content!"},
              lang);
}

const char* getMissingValidationTimeText(int lang) {
  return pick({"Fehler: Zeitpunkt der Zertifikatsvalidierung konnte nicht gefunden werden!",
               "Error: can´t find date and time of certificate validation!"},
              lang);
}

bool checkPdfVersion(PDDoc doc, bool warn) {
  ASInt16 major = 0, minor = 0;
  PDDocGetVersion(doc, &major, &minor);
  bool supported = major >= 0 && major <= 1 && minor >= 0 && minor <= 7;
  if (warn && !supported) {
    const char* text = pick(
        {"Das geladene Dokument ist mit einem neueren Adobe Produkt erstellt worden und enthält möglicherweise "
         "dynamische Daten die mit dieser Version des Dorvalin Plugin nicht erkannt werden können. Es kann deshalb "
         "nicht garantiert werden, dass bei der Bereinigung des Dokuments alle dynamischen Inhalte gefunden bzw. "
         "entfernt werden.",
         "The loaded document has been created with a newer version of an Adobe product and maybe contains dynamic "
         "content which cannot be idetified with this version of the Dorvalin plugin. Therefore it is not "
         "guaranteed that - when cleaning the document - all dynamic content is removed or found."},
        languageFlag);
    MessageBoxA(WinAppGetModalParent(AVAppGetActiveDoc()), text, pick({"Warnung", "Warning"}, languageFlag),
                MB_OK | MB_ICONWARNING);
  }
  return supported;
}
