// The viewer's host function tables: for each HFT the list of its operations in
// selector order, as X(name, result, (parameters), (arguments)).
//
// The lists give both sides one source: the host fills a table per list, the plug-in
// calls through PICalls.h. Selector n is entry n of the table (entry 0 is the count).
// A new operation goes at the end of its list, so existing selectors keep their numbers.
#pragma once

#include "pisdk/PITypes.h"

// Core: atoms, HFTs, callbacks and exception frames.
#define PI_CORE_HFT(X)                                                                   \
  X(ASExtensionMgrGetHFT, HFT, (ASAtom name, ASUns32 version), (name, version))          \
  X(ASGetConfiguration, void*, (ASAtom key), (key))                                      \
  X(ASAtomFromString, ASAtom, (const char* text), (text))                                \
  X(ASAtomGetString, const char*, (ASAtom atom), (atom))                                 \
  X(ASAtomExistsForString, ASBool, (const char* text), (text))                           \
  X(ASCallbackCreate, ASCallback, (ExtensionID extension, void* proc), (extension, proc)) \
  X(ASCallbackDestroy, void, (ASCallback callback), (callback))                          \
  X(ASPushExceptionFrame, void, (void* frame, ACRestoreProc restore), (frame, restore))  \
  X(ASPopExceptionFrame, void, (), ())                                                   \
  X(ASGetExceptionErrorCode, ASErrorCode, (), ())                                        \
  X(ASRaise, void, (ASErrorCode code), (code))

// AcroSupport: HFT versions, files and paths, error strings, fixed numbers.
#define PI_ACROSUPPORT_HFT(X)                                                             \
  X(HFTGetVersion, ASUns32, (HFT hft), (hft))                                             \
  X(ASFileSysGetDefault, ASFileSys, (), ())                                               \
  X(ASFileSysCreatePathName, ASPathName,                                                  \
    (ASFileSys fileSys, ASAtom pathSpecType, const void* pathSpec, const void* mustBeZero), \
    (fileSys, pathSpecType, pathSpec, mustBeZero))                                        \
  X(ASFileSysReleasePath, void, (ASFileSys fileSys, ASPathName path), (fileSys, path))    \
  X(ASFileAcquirePathName, ASPathName, (ASFile file), (file))                             \
  X(ASFileSysOpenFile, ASErrorCode,                                                       \
    (ASFileSys fileSys, ASPathName path, ASUns16 mode, ASFile* file),                     \
    (fileSys, path, mode, file))                                                          \
  X(ASFileSetPos, void, (ASFile file, ASFilePos pos), (file, pos))                        \
  X(ASFileRead, ASInt32, (ASFile file, char* buffer, ASInt32 count), (file, buffer, count)) \
  X(ASFileClose, ASInt32, (ASFile file), (file))                                          \
  X(ASFileGetEOF, ASFilePos, (ASFile file), (file))                                       \
  X(ASGetErrorString, const char*, (ASErrorCode code, char* buffer, ASInt32 size),        \
    (code, buffer, size))                                                                 \
  X(ASFixedToCString, void, (ASFixed value, char* buffer, ASInt32 size, ASInt16 precision), \
    (value, buffer, size, precision))                                                     \
  X(ASStmClose, ASInt32, (ASStm stm), (stm))

// ASExtra: text objects and cabinets.
#define PI_ASEXTRA_HFT(X)                                                                 \
  X(ASTextNew, ASText, (), ())                                                            \
  X(ASTextFromEncoded, ASText, (const char* text, ASHostEncoding encoding), (text, encoding)) \
  X(ASTextDup, ASText, (ASText text), (text))                                             \
  X(ASTextIsEmpty, ASBool, (ASText text), (text))                                         \
  X(ASTextGetEncoded, const char*, (ASText text, ASHostEncoding encoding), (text, encoding)) \
  X(ASTextDestroy, void, (ASText text), (text))                                           \
  X(ASCabNew, ASCab, (), ())                                                              \
  X(ASCabDestroy, void, (ASCab cab), (cab))                                               \
  X(ASCabNumEntries, ASInt32, (ASCab cab), (cab))                                         \
  X(ASCabKnown, ASBool, (ASCab cab, const char* key), (cab, key))                         \
  X(ASCabGetType, ASInt32, (ASCab cab, const char* key), (cab, key))                      \
  X(ASCabRemove, void, (ASCab cab, const char* key), (cab, key))                          \
  X(ASCabEnum, void, (ASCab cab, ASCallback proc, void* clientData), (cab, proc, clientData)) \
  X(ASCabPutBool, void, (ASCab cab, const char* key, ASBool value), (cab, key, value))   \
  X(ASCabPutInt, void, (ASCab cab, const char* key, ASInt32 value), (cab, key, value))   \
  X(ASCabPutAtom, void, (ASCab cab, const char* key, ASAtom value), (cab, key, value))   \
  X(ASCabPutDouble, void, (ASCab cab, const char* key, double value), (cab, key, value)) \
  X(ASCabPutString, void, (ASCab cab, const char* key, const char* value), (cab, key, value)) \
  X(ASCabPutText, void, (ASCab cab, const char* key, ASText value), (cab, key, value))   \
  X(ASCabPutBinary, void, (ASCab cab, const char* key, const void* data, ASInt32 size),  \
    (cab, key, data, size))                                                               \
  X(ASCabPutPointer, void, (ASCab cab, const char* key, void* value), (cab, key, value)) \
  X(ASCabPutCab, void, (ASCab cab, const char* key, ASCab value), (cab, key, value))     \
  X(ASCabPutNull, void, (ASCab cab, const char* key), (cab, key))                        \
  X(ASCabPutUns, void, (ASCab cab, const char* key, ASUns32 value), (cab, key, value))   \
  X(ASCabGetBool, ASBool, (ASCab cab, const char* key, ASBool defaultValue), (cab, key, defaultValue)) \
  X(ASCabGetInt, ASInt32, (ASCab cab, const char* key, ASInt32 defaultValue), (cab, key, defaultValue)) \
  X(ASCabGetAtom, ASAtom, (ASCab cab, const char* key, ASAtom defaultValue), (cab, key, defaultValue)) \
  X(ASCabGetDouble, double, (ASCab cab, const char* key, double defaultValue), (cab, key, defaultValue)) \
  X(ASCabGetString, const char*, (ASCab cab, const char* key), (cab, key))               \
  X(ASCabGetText, ASText, (ASCab cab, const char* key), (cab, key))                      \
  X(ASCabGetBinary, const void*, (ASCab cab, const char* key, ASInt32* size), (cab, key, size)) \
  X(ASCabGetPointer, void*, (ASCab cab, const char* key), (cab, key))                    \
  X(ASCabGetCab, ASCab, (ASCab cab, const char* key), (cab, key))                        \
  X(ASCabGetUns, ASUns32, (ASCab cab, const char* key, ASUns32 defaultValue), (cab, key, defaultValue))

// Cos: the object graph of a document.
#define PI_COS_HFT(X)                                                                     \
  X(CosObjGetType, CosType, (CosObj obj), (obj))                                          \
  X(CosObjGetDoc, CosDoc, (CosObj obj), (obj))                                            \
  X(CosDictGet, CosObj, (CosObj dict, ASAtom key), (dict, key))                           \
  X(CosDictKnown, ASBool, (CosObj dict, ASAtom key), (dict, key))                         \
  X(CosArrayGet, CosObj, (CosObj array, ASInt32 index), (array, index))                   \
  X(CosArrayLength, ASInt32, (CosObj array), (array))                                     \
  X(CosIntegerValue, ASInt32, (CosObj obj), (obj))                                        \
  X(CosFixedValue, ASFixed, (CosObj obj), (obj))                                          \
  X(CosBooleanValue, ASBool, (CosObj obj), (obj))                                         \
  X(CosNameValue, ASAtom, (CosObj obj), (obj))                                            \
  X(CosStringValue, const char*, (CosObj obj, ASInt32* length), (obj, length))            \
  X(CosNewNull, CosObj, (), ())                                                           \
  X(CosObjEqual, ASBool, (CosObj a, CosObj b), (a, b))                                    \
  X(CosObjIsIndirect, ASBool, (CosObj obj), (obj))                                        \
  X(CosObjGetID, ASInt32, (CosObj obj), (obj))                                            \
  X(CosObjGetGeneration, ASInt32, (CosObj obj), (obj))                                    \
  X(CosObjEnum, ASBool, (CosObj obj, ASCallback proc, void* clientData), (obj, proc, clientData)) \
  X(CosStreamDict, CosObj, (CosObj stream), (stream))                                     \
  X(CosDocGetRoot, CosObj, (CosDoc doc), (doc))                                           \
  X(CosDocEnumIndirect, ASBool, (CosDoc doc, ASCallback proc, void* clientData), (doc, proc, clientData)) \
  X(CosStreamOpenStm, ASStm, (CosObj stream, ASUns32 mode), (stream, mode))              \
  X(CosObjDestroy, void, (CosObj obj), (obj))

// PDModel: documents, pages, annotations and fonts.
#define PI_PDMODEL_HFT(X)                                                                 \
  X(PDDocGetCosDoc, CosDoc, (PDDoc doc), (doc))                                           \
  X(PDDocGetFile, ASFile, (PDDoc doc), (doc))                                             \
  X(PDDocGetNumPages, ASInt32, (PDDoc doc), (doc))                                        \
  X(PDDocAcquirePage, PDPage, (PDDoc doc, ASInt32 index), (doc, index))                   \
  X(PDPageRelease, void, (PDPage page), (page))                                           \
  X(PDPageGetCosObj, CosObj, (PDPage page), (page))                                       \
  X(PDPageGetDuration, ASFixed, (PDPage page), (page))                                    \
  X(PDPageGetNumAnnots, ASInt32, (PDPage page), (page))                                   \
  X(PDPageGetAnnot, PDAnnot, (PDPage page, ASInt32 index), (page, index))                 \
  X(PDAnnotGetSubtype, ASAtom, (PDAnnot annot), (annot))                                  \
  X(PDDocGetVersion, void, (PDDoc doc, ASInt16* major, ASInt16* minor), (doc, major, minor)) \
  X(PDDocEnumFonts, void,                                                                 \
    (PDDoc doc, ASInt32 firstPage, ASInt32 lastPage, ASCallback proc, void* clientData, \
     ASBool reserved1, ASBool reserved2),                                            \
    (doc, firstPage, lastPage, proc, clientData, reserved1, reserved2))              \
  X(PDFontGetName, ASInt32, (PDFont font, char* buffer, ASInt32 size), (font, buffer, size)) \
  X(PDFontGetSubtype, ASAtom, (PDFont font), (font))                                      \
  X(PDFontIsEmbedded, ASBool, (PDFont font), (font))                                      \
  X(PDFontGetDescendant, PDFont, (PDFont font), (font))                                   \
  X(PDFontGetCosObj, CosObj, (PDFont font), (font))                                     \
  X(PDContentReadToken, ASInt32,                                                          \
    (ASStm stm, ASCallback byteProc, void* clientData, PDContentTokenRec* token),        \
    (stm, byteProc, clientData, token))                                                   \
  X(PDContentReadInlineImage, void, (ASStm stm, CosDoc doc, CosObj* image), (stm, doc, image)) \
  X(PDDocPermRequest, ASInt32, (PDDoc doc, ASInt32 object, ASInt32 operation, void* authData), \
    (doc, object, operation, authData))                                                   \
  X(PDDocCreateWordFinderEx, PDWordFinder,                                                \
    (PDDoc doc, ASInt32 version, ASBool unicode, const PDWordFinderConfigRec* config),   \
    (doc, version, unicode, config))                                                      \
  X(PDWordFinderEnumWords, void, (PDWordFinder finder, ASInt32 page, ASCallback proc, void* clientData), \
    (finder, page, proc, clientData))                                                     \
  X(PDWordFinderDestroy, void, (PDWordFinder finder), (finder))                           \
  X(PDWordGetLength, ASInt32, (PDWord word), (word))                                      \
  X(PDWordGetString, ASInt32, (PDWord word, char* buffer, ASInt32 size), (word, buffer, size))

// AcroView: the application, its active document view, menus and preferences.
#define PI_ACROVIEW_HFT(X)                                                                \
  X(AVAppGetActiveDoc, AVDoc, (), ())                                                     \
  X(AVDocGetPDDoc, PDDoc, (AVDoc doc), (doc))                                             \
  X(AVAppGetVersion, void, (ASInt16* major, ASInt16* minor), (major, minor))              \
  X(AVAppGetLanguage, void, (char* buffer), (buffer))                                     \
  X(AVAppGetLanguageEncoding, ASHostEncoding, (), ())                                     \
  X(AVAppGetMenubar, AVMenubar, (), ())                                                   \
  X(AVMenuNew, AVMenu, (const char* title, const char* name, ExtensionID owner), (title, name, owner)) \
  X(AVMenubarAddMenu, void, (AVMenubar bar, AVMenu menu, ASInt32 position), (bar, menu, position)) \
  X(AVMenuItemNew, AVMenuItem,                                                            \
    (const char* title, const char* name, AVMenu submenu, ExtensionID owner),             \
    (title, name, submenu, owner))                                                        \
  X(AVMenuItemSetExecuteProc, void, (AVMenuItem item, ASCallback proc, void* clientData), \
    (item, proc, clientData))                                                             \
  X(AVMenuAddMenuItem, void, (AVMenu menu, AVMenuItem item, ASInt32 position), (menu, item, position)) \
  X(AVMenuItemRemove, void, (AVMenuItem item), (item))                                    \
  X(AVMenuRemove, void, (AVMenu menu), (menu))                                            \
  X(AVMenubarAcquireMenuItemByPredicate, AVMenuItem,                                      \
    (AVMenubar bar, ASCallback predicate, void* clientData), (bar, predicate, clientData)) \
  X(AVMenuItemIsMarked, ASBool, (AVMenuItem item), (item))                                \
  X(AVMenuItemGetName, ASAtom, (AVMenuItem item), (item))                                 \
  X(AVMenuItemGetParentMenu, AVMenu, (AVMenuItem item), (item))                           \
  X(AVMenuGetName, ASAtom, (AVMenu menu), (menu))                                         \
  X(AVMenuItemRelease, void, (AVMenuItem item), (item))                                   \
  X(AVMenuRelease, void, (AVMenu menu), (menu))                                           \
  X(AVAppGetPrefBool, ASBool, (const char* section, const char* key, ASBool defaultValue), \
    (section, key, defaultValue))                                                         \
  X(AVAppGetPrefInt, ASInt32, (const char* section, const char* key, ASInt32 defaultValue), \
    (section, key, defaultValue))                                                         \
  X(AVAppGetPrefText, ASText, (const char* section, const char* key, const char* defaultValue), \
    (section, key, defaultValue))                                                         \
  X(AVAppOpenHelpFile, ASBool, (const char* fileName, const char* destination), (fileName, destination))

// Win: window handles of the viewer.
#define PI_WIN_HFT(X) X(WinAppGetModalParent, HWND, (AVDoc doc), (doc))

// PubSecHFT: handler registration, the signed data, the trusted certificates.
#define PI_PUBSEC_HFT(X)                                                                  \
  X(PSRegisterHandler, ASBool, (ExtensionID owner, PubSecHandlerRec* handler), (owner, handler)) \
  X(PSUnregisterHandler, void, (PubSecHandlerRec* handler), (handler))                    \
  X(PSDataSourceGetNextChunk, ASBool,                                                     \
    (PSDataSource source, ASInt32 maxSize, ASUns8* buffer, ASInt32* size),                \
    (source, maxSize, buffer, size))                                                      \
  X(AABGetTrustedCerts, void, (ASUns32 filter, ASCab certs), (filter, certs))             \
  X(PSOpenAppearanceList, ASBool, (ASInt32 a, ASInt32 b), (a, b))                         \
  X(PSGetNumAppearances, ASInt32, (), ())                                                 \
  X(PSGetAppearanceName, ASText, (ASInt32 index), (index))                                \
  X(PSCloseAppearanceList, void, (), ())                                                  \
  X(PSImportData, ASBool, (PSImportDataRec* params), (params))

// DigSigHFT: the signature fields of a document.
#define PI_DIGSIG_HFT(X)                                                                  \
  X(DigSigEnumSignatures, void, (PDDoc doc, ASCallback proc, void* clientData), (doc, proc, clientData))

// PDFConsultant: a classifying walk over a document's objects.
#define PI_CONSULTANT_HFT(X)                                                              \
  X(ConsultantCreate, Consultant, (ASCallback progress), (progress))                      \
  X(ConsultantRegisterAgent, void,                                                        \
    (Consultant consultant, const ConsultantAgentRec* agent, ASUns32 flags),              \
    (consultant, agent, flags))                                                           \
  X(ConsultantTraverseFrom, void, (Consultant consultant, CosObj start, PDFObjType startType), \
    (consultant, start, startType))                                                       \
  X(ConsultantDestroy, void, (Consultant consultant), (consultant))

// Selectors and prototypes of every list.
#define PI_DECLARE_SELECTOR(name, result, params, args) name##SEL,
#define PI_DECLARE_PROTO(name, result, params, args) typedef result(*name##SELPROTO) params;
#define PI_DECLARE_HFT(list, prefix)                  \
  enum { prefix##_first = 0, list(PI_DECLARE_SELECTOR) prefix##_count }; \
  list(PI_DECLARE_PROTO)

PI_DECLARE_HFT(PI_CORE_HFT, CoreSel)
PI_DECLARE_HFT(PI_ACROSUPPORT_HFT, AcroSupportSel)
PI_DECLARE_HFT(PI_ASEXTRA_HFT, ASExtraSel)
PI_DECLARE_HFT(PI_COS_HFT, CosSel)
PI_DECLARE_HFT(PI_PDMODEL_HFT, PDModelSel)
PI_DECLARE_HFT(PI_ACROVIEW_HFT, AcroViewSel)
PI_DECLARE_HFT(PI_WIN_HFT, WinSel)
PI_DECLARE_HFT(PI_PUBSEC_HFT, PubSecSel)
PI_DECLARE_HFT(PI_DIGSIG_HFT, DigSigSel)
PI_DECLARE_HFT(PI_CONSULTANT_HFT, ConsultantSel)

// HFT names and the versions a plug-in asks for.
#define kCoreHFTName "Core"
#define kAcroSupportHFTName "AcroSupport"
#define kCosHFTName "Cos"
#define kPDModelHFTName "PDModel"
#define kAcroViewHFTName "AcroView"
#define kPDSReadHFTName "PDSRead"
#define kWinHFTName "Win"
#define kASExtraHFTName "ASExtra"
#define kAcroColorHFTName "AcroColorHFT"
#define kPubSecHFTName "PubSecHFT"
#define kDigSigHFTName "DigSigHFT"
#define kPDFConsultantHFTName "PDFConsultant"
