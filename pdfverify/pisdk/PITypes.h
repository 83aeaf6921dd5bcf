// The viewer's plug-in interface: host types and the records of the handshake.
//
// Both sides include this header: the plug-in calls the host through host function
// tables (HFTs) and the test viewer fills them. Records use natural layouts in their
// field order; size fields are sizeof.
#pragma once

#include <cstddef>
#include <cstdint>

#include <windows.h>

typedef uint8_t ASUns8;
typedef int16_t ASInt16;
typedef uint16_t ASUns16;
typedef int32_t ASInt32;
typedef uint32_t ASUns32;
typedef int64_t ASInt64;
typedef ASUns16 ASBool;
typedef ASUns16 ASAtom;
typedef ASInt32 ASErrorCode;
typedef ASInt32 ASFixed;  // 16.16 fixed point
typedef ASInt64 ASFilePos;
typedef ASInt32 ASHostEncoding;  // 0: UTF-8, the ANSI code page of the platform

#define ASAtomNull ((ASAtom)0xFFFF)
#define fixedOne ((ASFixed)0x00010000)
#define fixedNegativeOne ((ASFixed)0xFFFF0000)

// Opaque host objects: the plug-in only passes them back.
typedef struct _t_ASTextRec* ASText;
typedef struct _t_ASCabRec* ASCab;
typedef struct _t_ASFileRec* ASFile;
typedef struct _t_ASFileSysRec* ASFileSys;
typedef struct _t_ASPathNameRec* ASPathName;
typedef struct _t_ASCallbackRec* ASCallback;
typedef struct _t_ExtensionIDRec* ExtensionID;
typedef struct _t_CosDocRec* CosDoc;
typedef struct _t_PDDocRec* PDDoc;
typedef struct _t_PDPageRec* PDPage;
typedef struct _t_PDFontRec* PDFont;
typedef struct _t_AVDocRec* AVDoc;
typedef struct _t_AVMenuRec* AVMenu;
typedef struct _t_AVMenuItemRec* AVMenuItem;
typedef struct _t_AVMenubarRec* AVMenubar;
typedef struct _t_ConsultantRec* Consultant;
typedef struct _t_PSEngineRec* PubSecEngine;
typedef struct _t_PSDataSourceRec* PSDataSource;
typedef struct _t_ASStmRec* ASStm;
typedef struct _t_PDWordFinderRec* PDWordFinder;
typedef struct _t_PDWordRec* PDWord;

// A Cos object: a document and a slot of that document's object table; the host
// alone reads the fields. The null object of no document is {0, 0}.
typedef struct CosObj {
  ASUns32 doc;
  ASUns32 slot;
} CosObj;
typedef CosObj PDAnnot;

// Cos types, as CosObjGetType answers them.
typedef ASInt32 CosType;
enum {
  CosNull = 0,
  CosInteger = 1,
  CosFixed = 2,
  CosBoolean = 3,
  CosName = 4,
  CosString = 5,
  CosDict = 6,
  CosArray = 7,
  CosStream = 8
};

// An entry of a host function table; an HFT is the table, its selectors index it.
// Entry 0 holds the number of entries, so selectors start at 1.
typedef void (*HFTEntry)(void);
typedef const HFTEntry* HFT;

// Error codes the host raises. The high byte is the severity and system.
#define ErrSysNone 0
#define ErrSysCos 1
#define ErrSysPDModel 2
#define ErrSysAcroView 3
#define ErrSysAS 4
#define ErrSysPubSec 5
#define PIBuildErrorCode(sys, code) ((ASErrorCode)((0x40000000u) | ((ASUns32)(sys) << 16) | (ASUns32)(code)))
#define genErrBadParm PIBuildErrorCode(ErrSysNone, 3)
#define genErrNoMemory PIBuildErrorCode(ErrSysNone, 2)
#define genErrGeneral PIBuildErrorCode(ErrSysNone, 1)
#define cosErrExpectedDict PIBuildErrorCode(ErrSysCos, 8)
#define cosErrExpectedArray PIBuildErrorCode(ErrSysCos, 9)
#define cosErrExpectedName PIBuildErrorCode(ErrSysCos, 10)
#define cosErrExpectedString PIBuildErrorCode(ErrSysCos, 11)
#define cosErrExpectedNumber PIBuildErrorCode(ErrSysCos, 12)
#define cosErrExpectedBoolean PIBuildErrorCode(ErrSysCos, 13)
#define cosErrExpectedStream PIBuildErrorCode(ErrSysCos, 14)
#define cosErrBadObject PIBuildErrorCode(ErrSysCos, 15)
#define cosErrRead PIBuildErrorCode(ErrSysCos, 16)
#define pdErrBadPageIndex PIBuildErrorCode(ErrSysPDModel, 1)
#define pdErrBadAnnot PIBuildErrorCode(ErrSysPDModel, 2)
#define pdErrBadFont PIBuildErrorCode(ErrSysPDModel, 3)
#define pdErrBadDocument PIBuildErrorCode(ErrSysPDModel, 4)
#define asErrFileOpen PIBuildErrorCode(ErrSysAS, 1)
#define asErrBadHandle PIBuildErrorCode(ErrSysAS, 2)
#define asErrBadCallback PIBuildErrorCode(ErrSysAS, 3)
#define asErrFrameUnbalanced PIBuildErrorCode(ErrSysAS, 4)

// --- The handshake -----------------------------------------------------------------

#define HANDSHAKE_VERSION_2 0x00020000u

// The two words the host passes to PlugInMain.
typedef struct PIHostData {
  HWND hostMainWindow;
  HINSTANCE pluginInstance;
} PIHostData;

// Filled by the host, read by the plug-in's set-up procedure; the plug-in writes the
// handshake callback.
typedef struct PISetupSDKRec {
  ASUns32 handshakeVersion;
  ExtensionID extensionID;
  HFT coreHFT;
  ASCallback handshakeCallback;  // out
} PISetupSDKRec;

// Filled by the plug-in's handshake callback.
typedef struct PIHandshakeRec {
  ASUns32 handshakeVersion;
  ASUns16 reserved;
  ASAtom appName;
  ASCallback exportHFTsCallback;
  ASCallback importReplaceAndRegisterCallback;
  ASCallback initCallback;
  ASCallback unloadCallback;
} PIHandshakeRec;

typedef ASBool (*PISetupSDKProcType)(ASUns32 handshakeVersion, void* sdkData);
typedef ASBool (*PIHandshakeProcType)(ASUns32 handshakeVersion, void* handshakeData);
typedef ASBool (*PIExportHFTsProcType)(void);
typedef ASBool (*PIImportReplaceAndRegisterProcType)(void);
typedef ASBool (*PIInitProcType)(void);
typedef ASBool (*PIUnloadProcType)(void);
// The only export of a plug-in module.
typedef ASBool (*PIMainProcType)(ASUns32 appHandshakeVersion, ASUns32* handshakeVersion,
                                 PISetupSDKProcType* setupProc, void* hostData);

// --- Exception frames -----------------------------------------------------------------

// The restore procedure of a frame: the host calls it with the frame when a raise
// reaches the frame; it does not return (it unwinds to the frame's handler).
typedef void (*ACRestoreProc)(void* frame);

// --- Callback procedures the host calls ----------------------------------------------------
// Each is handed to the host as an ASCallback made from the procedure.

typedef ASBool (*CosObjEnumProc)(CosObj obj, CosObj value, void* clientData);
typedef ASBool (*CosDocEnumProc)(CosObj obj, void* clientData);
typedef ASBool (*ASCabEnumProc)(ASCab cab, const char* key, ASInt32 type, void* clientData);
typedef ASBool (*PDFontEnumProc)(PDFont font, ASUns32 flags, void* clientData);
typedef ASBool (*DigSigEnumProc)(PDDoc doc, CosObj field, void* clientData);
typedef void (*AVExecuteProc)(void* clientData);
typedef ASBool (*AVMenuItemPredicate)(AVMenuItem item, void* clientData);

// Kinds of cabinet values.
enum {
  kASValueBool = 0,
  kASValueInteger = 1,
  kASValueAtom = 2,
  kASValueDouble = 3,
  kASValueString = 4,
  kASValueText = 5,
  kASValueBinary = 6,
  kASValuePointer = 7,
  kASValueCabinet = 8,
  kASValueNull = 9,
  kASValueUns = 10,
  kASValueUnknown = -1
};

// File open modes.
#define ASFILE_READ 1
#define ASFILE_WRITE 2

// --- PubSec --------------------------------------------------------------------------

// The signature handler record a plug-in registers; every procedure is a callback made
// with ASCallbackCreate. Unused slots stay zero.
typedef struct PubSecHandlerRec {
  ASUns32 size;  // sizeof(PubSecHandlerRec)
  ASUns32 reserved1, reserved2, reserved3;
  PubSecEngine engine;
  ASCallback newEngine;
  ASCallback destroyEngine;
  ASCallback getBoolProperty;
  ASCallback getAtomProperty;
  ASCallback getInt32Property;
  ASCallback getTextProperty;
  ASCallback sessionAcquire;
  ASCallback sessionRelease;
  ASCallback sessionReady;
  ASCallback performOperation;
  ASCallback sigGetSigProperties;
  ASCallback sigAuthenticate;
  ASCallback sigGetSigValue;
  ASCallback reserved4;
  ASCallback sigValidate;
  ASCallback reserved5, reserved6;
  ASCallback getText;
  ASCallback getAppearanceLogo;
  ASCallback reserved7, reserved8, reserved9;
  ASCallback exportData;
  ASCallback openCMSEnvelope;
  ASCallback getImplicitRecipients;
  ASCallback reserved10[6];
} PubSecHandlerRec;

// The PubSec data import: a file for the viewer to import, and the handler asking.
enum { kPSImportDataFDF = 2 };  // an FDF file of trusted identities
typedef struct PSImportDataRec {
  ASUns32 size;  // sizeof(PSImportDataRec)
  PubSecHandlerRec* handler;  // null when no handler asks
  PubSecEngine engine;
  ASInt32 dataKind;
  ASFileSys fileSys;
  ASPathName path;
} PSImportDataRec;

// Signature methods of a validation.
#define kPSSigMethodPKCS1 1
#define kPSSigMethodPKCS7Detached 2
#define kPSSigMethodPKCS7SHA1 3

// What the host hands to the handler's SigValidate.
typedef struct PSSigValidateParamsRec {
  ASUns32 size;  // sizeof(PSSigValidateParamsRec)
  ASInt32 sigMethod;
  ASUns32 reserved1;
  const ASUns8* digest;  // 20-byte SHA-1 of the signed ranges (method 3)
  const ASUns8* sigValue;
  ASInt32 sigValueSize;
  ASCab signerCert;  // key "0": the signer's DER certificate
  ASUns32 reserved2, reserved3;
  ASCab resultCab;  // filled by the handler
  ASUns32 reserved4;
  PSDataSource dataSource;  // the signed byte ranges
} PSSigValidateParamsRec;

// Handler procedures the host calls (all made with ASCallbackCreate).
typedef PubSecEngine (*PSNewEngineProc)(void);
typedef void (*PSDestroyEngineProc)(PubSecEngine engine);
typedef ASBool (*PSGetBoolPropertyProc)(PubSecEngine engine, const char* name, ASBool defaultValue);
typedef ASAtom (*PSGetAtomPropertyProc)(PubSecEngine engine, const char* name);
typedef ASInt32 (*PSGetInt32PropertyProc)(PubSecEngine engine, const char* name, ASInt32 defaultValue);
typedef ASText (*PSGetTextPropertyProc)(PubSecEngine engine, const char* name, ASInt32 index);
typedef ASInt32 (*PSSigValidateProc)(PubSecEngine engine, PSSigValidateParamsRec* params);
typedef ASText (*PSGetTextProc)(PubSecEngine engine, ASCab resultCab, ASInt32 kind);
typedef ASInt32 (*PSSessionAcquireProc)(PubSecEngine engine, void* session, ASInt32 opType, void* hostValue1,
                                        void* hostValue2, ASBool userInterface);
typedef ASInt32 (*PSSessionReleaseProc)(PubSecEngine engine, ASInt32 opType);
typedef ASInt32 (*PSSessionReadyProc)(PubSecEngine engine, ASInt32 opType);
typedef ASInt32 (*PSPerformOperationProc)(PubSecEngine engine, void* hostValue1, void* hostValue2, ASBool flag);
typedef ASInt32 (*PSSigGetSigPropertiesProc)(PubSecEngine engine, void* signingParams);
typedef ASInt32 (*PSSigAuthenticateProc)(PubSecEngine engine, void* hostValue1, void* hostValue2,
                                         ASBool userInterface);
typedef ASInt32 (*PSSigGetSigValueProc)(PubSecEngine engine, void* signingParams);
typedef void (*PSGetLogoProc)(ASAtom key, const char** content, const struct ASFixedRect** box);
typedef ASInt32 (*PSExportDataProc)(PubSecEngine engine, void* hostValue, void* data, ASBool flag);
typedef ASInt32 (*PSOpenCMSEnvelopeProc)(PubSecEngine engine, void* hostValue1, void* hostValue2, void* hostValue3,
                                         void* hostValue4, ASBool flag);
typedef ASInt32 (*PSGetImplicitRecipientsProc)(PubSecEngine engine, void* hostValue, ASBool flag);

// A rectangle in 16.16 fixed point, as the appearance logo's bounding box.
typedef struct ASFixedRect {
  ASFixed left, top, right, bottom;
} ASFixedRect;

// The operation types of a PubSec session.
enum {
  kPSOpTypeNone = 0,
  kPSOpTypePDDocSign,
  kPSOpTypePDDocSigValidate,
  kPSOpTypeCosDocSign,
  kPSOpTypeCosDocSigValidate,
  kPSOpTypeDataSign,
  kPSOpTypeDataSigValidate,
  kPSOpTypeMyContactExport,
  kPSOpTypeContactImport,
  kPSOpTypePolicyModify,
  kPSOpTypeAPRead,
  kPSOpTypePDCryptDocCreate,
  kPSOpTypePDCryptDocOpen,
  kPSOpTypeLogin,
  kPSOpTypeLogout,
  kPSOpTypeCertEnum,
  kPSOpTypeDirEnum,
  kPSOpTypeDirGet
};

// The kinds of text the viewer's signature panel asks a handler for.
typedef ASInt32 DSSigValText;
enum {
  kDSSigValTextNull = 0,
  kDSSigValTextDSTop = 1,
  kDSSigValTextDSDetail = 2,
  kDSSigValTextDSTooltip = 3,
  kDSSigValTextSigInfo = 4,
  kDSSigValTextVal = 5,
  kDSSigValTextProp = 6,
  kDSSigValTextAP = 7,
  kDSSigValTextPropIdValidity = 8,
  kDSSigValTextDSAVIdValidity = 9,
  kDSSigValTextDSTTIdValidity = 10
};

// --- Content streams and words ----------------------------------------------------------

// Kinds of the tokens PDContentReadToken reads.
enum {
  kPDContentTokenNone = 0,  // nothing read (the end of the stream, when nothing was consumed)
  kPDContentTokenNumber = 1,
  kPDContentTokenName = 2,
  kPDContentTokenOther = 3,  // brackets, booleans, null, and bytes that make no token
  kPDContentTokenOperator = 4,
  kPDContentTokenString = 5
};

// One token of a content stream. A string's first 255 bytes stand in `text`; the host
// hands the rest to the byte procedure while it reads the token.
typedef struct PDContentTokenRec {
  ASUns32 size;  // sizeof(PDContentTokenRec)
  ASInt32 type;
  ASUns32 reserved[2];
  char text[256];        // an operator's name, or a string's bytes; zero-terminated
  ASInt32 stringLength;  // the bytes of a string in `text`
} PDContentTokenRec;
typedef void (*PDContentByteProc)(const char* bytes, ASInt32 length, void* clientData);

// How a word finder splits text; the host reads only the size.
typedef struct PDWordFinderConfigRec {
  ASUns32 recordSize;  // sizeof(PDWordFinderConfigRec)
  ASUns32 reserved1;
  ASUns16 flags[8];
  ASUns32 reserved2[6];
} PDWordFinderConfigRec;
typedef ASBool (*PDWordProc)(PDWordFinder finder, PDWord word, ASInt32 page, void* clientData);

// --- PDF Consultant ------------------------------------------------------------------

typedef ASInt32 PDFObjType;
#define PT_CATALOG 23

// Actions an agent answers for a found object.
#define AC_NOCHANGE 8
#define AC_REMOVE 26

typedef void (*ConsultantProgressProc)(float progress);
typedef void (*ConsultantPostProcessProc)(void);
// Called for each object of a requested type; hierarchy[0] is the object's own type,
// the following ones its containers up to the start of the traversal.
typedef ASInt32 (*ConsultantObjFoundProc)(Consultant consultant, CosObj obj,
                                          const PDFObjType* hierarchy, ASUns32 hierarchyLength,
                                          void* reserved);

typedef struct ConsultantAgentRec {
  ASUns32 size;  // sizeof(ConsultantAgentRec)
  const PDFObjType* requestedTypes;
  ASUns32 numRequestedTypes;
  ASCallback postProcess;  // ConsultantPostProcessProc
  ASCallback objFound;     // ConsultantObjFoundProc
  ASUns16 flags;
  ASUns16 reserved;
} ConsultantAgentRec;
