/*
 * kxplugin.h: the C interface between the setup engine and its plug-ins.
 *
 * A plug-in is a library (a DLL on Windows; on Linux an ELF shared object, also named "*.dll")
 * that exports one function, GetPluginInfo. The engine calls it with a zero-filled information
 * record whose first field is preset to KX_STRUCT_VERSION; the plug-in fills in its name (which
 * must equal the ID of a plug-in entry of its package), the engine version it needs and its event
 * entry. The engine then sends EV_SETSTARTUPINFO with the start-up record (the plug-in copies the
 * three engine entries and its own number from it: the record lives only during that call),
 * EV_LOAD (a non-zero answer refuses the plug-in) and EV_LANGUAGECHANGED, and from then on every
 * broadcast until EV_UNLOAD.
 *
 * Layout. Records are packed. On 32-bit Windows every field is 32 bits wide and the records have
 * exactly the sizes and offsets checked below (5162 and 285 bytes). On 64-bit targets numeric
 * fields keep their width and every field that carries a pointer (text pointers in records,
 * entries, event and command parameters and answers that are pointers) is pointer-sized:
 * kx_ptr is intptr_t everywhere.
 *
 * Calling convention. On 32-bit Windows every entry is __stdcall (KXAPI) and exports carry no
 * decoration ("GetPluginInfo", not "_GetPluginInfo@4": link with --kill-at or a .def file);
 * elsewhere the platform's default convention.
 *
 * Memory. Texts and records that the engine passes with an event are valid during that call only.
 * Blocks that a plug-in hands to the engine as an answer (EV_CALCFUNCTION) come from
 * CM_ALLOCMEM; blocks the engine hands out (CM_CALCEXPRESSION) are freed with CM_FREEMEM.
 *
 * Texts are 8-bit in the system's ANSI code page, zero-terminated.
 */
#ifndef KXPLUGIN_H
#define KXPLUGIN_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define KXAPI __stdcall
#else
#define KXAPI
#endif

#if defined(_WIN32)
#define KX_EXPORT __declspec(dllexport)
#else
#define KX_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
#define KX_STATIC_ASSERT(condition, message) static_assert(condition, message)
extern "C" {
#else
#define KX_STATIC_ASSERT(condition, message) _Static_assert(condition, message)
#endif

typedef intptr_t kx_ptr;

/* Versions: the records' structure version, and this engine's version (3.1.0). */
#define KX_STRUCT_VERSION 0x10000
#define KX_ENGINE_VERSION 0x30100

#define KX_NAME_SIZE 261 /* text fields of the records, terminating zero included */

/* ------------------------------------------------------------------------------------------ */
/* Events: engine -> plug-ins. "first answer": delivery stops at the first plug-in that answers
 * non-zero; "all": every plug-in is called. */
enum {
  EV_SETSTARTUPINFO = 1,         /* KxStartupInfo*, 0; to this plug-in alone */
  EV_LOAD = 2,                   /* 0, 0; non-zero refuses the plug-in */
  EV_UNLOAD = 3,                 /* 0, 0 */
  EV_START = 4,                  /* 0, 0; all */
  EV_FINISH = 5,                 /* run result 1 or 0, 0; all */
  EV_SHOWDIALOGS = 6,            /* 0 before installation, 1 after; non-zero fails the run */
  EV_LANGUAGECHANGED = 7,        /* language abbreviation, 0; all */
  EV_BEFOREINSTALL = 8,          /* 0, 0; non-zero stops before installing */
  EV_AFTERINSTALL = 9,           /* 0, 0; all */
  EV_BEFOREPROCESSITEMS = 10,    /* list code << 16, 0; non-zero skips the list */
  EV_AFTERPROCESSITEMS = 11,     /* list code << 16, 0; all */
  EV_BEFOREPROCESSITEM = 12,     /* list code << 16, item record; non-zero skips the item */
  EV_AFTERPROCESSITEM = 13,      /* list code << 16, item record; all */
  EV_PROCESSITEM = 14,           /* skip flag in the low 16 bits, KxFileRecord*; all */
  EV_FILEINSTALLPROGRESS = 15,   /* percent of the file, percent of all; all */
  EV_FEATURESTATECHANGED = 16,   /* feature ID, new state 0, 1 or 2; all */
  EV_INSTALLTYPECHANGED = 17,    /* install type ID, 0; all */
  EV_VERSIONCONFLICT = 18,       /* destination path, 0; answer 1 to 4 */
  EV_GETPACKAGE = 19,            /* package file name, folder buffer (KX_NAME_SIZE - 1 bytes);
                                    non-zero: a new folder was written into the buffer */
  EV_CHECKLAUNCHCONDITIONS = 20, /* 0, 0; non-zero fails the launch checks */
  EV_CALCFUNCTION = 21,          /* KxCalcFunctionBlock*, 0; answer: a CM_ALLOCMEM text or 0 */
  EV_QUERYREBOOT = 22            /* 0, 0 */
};

/* Commands: plug-in -> engine, through the command entry. */
enum {
  CM_ABORTINSTALL = 256,
  CM_SUSPENDINSTALL = 257,
  CM_RESUMEINSTALL = 258,
  CM_PARSETEXT = 259,          /* text, buffer or 0: the text with %Name% expanded */
  CM_GETLANGUAGE = 260,        /* abbreviation or "", buffer or 0: KxLanguageRecord */
  CM_SETLANGUAGE = 261,        /* abbreviation, 0 */
  CM_GETVARIABLE = 262,        /* name, buffer or 0 */
  CM_SETVARIABLE = 263,        /* name, value */
  CM_GETFEATURE = 264,         /* feature ID or "", buffer or 0: KxFeatureRecord */
  CM_GETFEATURESTATE = 265,    /* feature ID, 0: 0, 1 or 2 */
  CM_SETFEATURESTATE = 266,    /* feature ID, 1 to select: 0, or -1 when refused */
  CM_GETINSTALLTYPE = 267,     /* install type ID or "", buffer or 0: KxInstallTypeRecord */
  CM_SETINSTALLTYPE = 268,     /* install type ID, 0: 0, or -1 when refused */
  CM_GETPCPARAM = 270,         /* KxParamQuery*, buffer or 0 */
  CM_GETPCGROUPNAMES = 271,    /* buffer or 0, 0: names joined by CR LF */
  CM_GETPCPARAMNAMES = 272,    /* group, buffer or 0: names joined by CR LF */
  CM_GETPCCUSTOMCONFIG = 273,  /* buffer or 0, 0: the XML text of the custom configuration */
  CM_CALCEXPRESSION = 274,     /* expression, 0: a text to free with CM_FREEMEM */
  CM_CALCBOOLEXPRESSION = 275, /* expression, 0: 1 or 0 */
  CM_REGISTERFUNCTION = 276,   /* name, argument count (-1 any): the function's ID or 0 */
  CM_ALLOCMEM = 277,           /* size, 0: a zero-filled block */
  CM_FREEMEM = 278,            /* block, 0 */
  CM_ADDLOGRECORD = 279        /* section, "name=value" */
};

/* The name of a predefined event or command, as the event entry receives it ("EV_LOAD" for 2);
 * "" for any other number. */
#define KX_NAME_CASE(message) \
  case message:               \
    return #message;
static inline const char* kx_message_name(int32_t number) {
  switch (number) {
    KX_NAME_CASE(EV_SETSTARTUPINFO)
    KX_NAME_CASE(EV_LOAD)
    KX_NAME_CASE(EV_UNLOAD)
    KX_NAME_CASE(EV_START)
    KX_NAME_CASE(EV_FINISH)
    KX_NAME_CASE(EV_SHOWDIALOGS)
    KX_NAME_CASE(EV_LANGUAGECHANGED)
    KX_NAME_CASE(EV_BEFOREINSTALL)
    KX_NAME_CASE(EV_AFTERINSTALL)
    KX_NAME_CASE(EV_BEFOREPROCESSITEMS)
    KX_NAME_CASE(EV_AFTERPROCESSITEMS)
    KX_NAME_CASE(EV_BEFOREPROCESSITEM)
    KX_NAME_CASE(EV_AFTERPROCESSITEM)
    KX_NAME_CASE(EV_PROCESSITEM)
    KX_NAME_CASE(EV_FILEINSTALLPROGRESS)
    KX_NAME_CASE(EV_FEATURESTATECHANGED)
    KX_NAME_CASE(EV_INSTALLTYPECHANGED)
    KX_NAME_CASE(EV_VERSIONCONFLICT)
    KX_NAME_CASE(EV_GETPACKAGE)
    KX_NAME_CASE(EV_CHECKLAUNCHCONDITIONS)
    KX_NAME_CASE(EV_CALCFUNCTION)
    KX_NAME_CASE(EV_QUERYREBOOT)
    KX_NAME_CASE(CM_ABORTINSTALL)
    KX_NAME_CASE(CM_SUSPENDINSTALL)
    KX_NAME_CASE(CM_RESUMEINSTALL)
    KX_NAME_CASE(CM_PARSETEXT)
    KX_NAME_CASE(CM_GETLANGUAGE)
    KX_NAME_CASE(CM_SETLANGUAGE)
    KX_NAME_CASE(CM_GETVARIABLE)
    KX_NAME_CASE(CM_SETVARIABLE)
    KX_NAME_CASE(CM_GETFEATURE)
    KX_NAME_CASE(CM_GETFEATURESTATE)
    KX_NAME_CASE(CM_SETFEATURESTATE)
    KX_NAME_CASE(CM_GETINSTALLTYPE)
    KX_NAME_CASE(CM_SETINSTALLTYPE)
    KX_NAME_CASE(CM_GETPCPARAM)
    KX_NAME_CASE(CM_GETPCGROUPNAMES)
    KX_NAME_CASE(CM_GETPCPARAMNAMES)
    KX_NAME_CASE(CM_GETPCCUSTOMCONFIG)
    KX_NAME_CASE(CM_CALCEXPRESSION)
    KX_NAME_CASE(CM_CALCBOOLEXPRESSION)
    KX_NAME_CASE(CM_REGISTERFUNCTION)
    KX_NAME_CASE(CM_ALLOCMEM)
    KX_NAME_CASE(CM_FREEMEM)
    KX_NAME_CASE(CM_ADDLOGRECORD)
  }
  return "";
}
#undef KX_NAME_CASE

/* Buffer protocol of the commands that return a text or a record: with a null buffer the answer
 * is the size needed (the text's length + 1, or the record's size); with a buffer that large the
 * text or record is written into it and the answer is 0; an empty text or a missing object
 * answers 0 and writes nothing. */

/* The first messages handed out by name: numbers of names that are not predefined count from
 * here. */
#define KX_FIRST_NAMED_MESSAGE 4096

/* Lists of the item events, carried in the high 16 bits of the first parameter. */
enum {
  KX_LIST_FILES = 0,
  KX_LIST_REGISTRY = 1,
  KX_LIST_INI = 2,
  KX_LIST_SHORTCUTS = 3,
  KX_LIST_SERVERS = 4,
  KX_LIST_FONTS = 5,
  KX_LIST_PROGRAMS = 6
};

/* ------------------------------------------------------------------------------------------ */
/* Entries */

/* The plug-in's event entry: (number, name, first, second) -> answer. */
typedef kx_ptr(KXAPI* KxEventEntry)(int32_t number, const char* name, kx_ptr first, kx_ptr second);
/* The engine's message-code entry: (sender, name) -> number; a new name is registered. */
typedef int32_t(KXAPI* KxMessageCodeEntry)(int32_t sender, const char* name);
/* The engine's command entry: (sender, number, first, second, to-all flag) -> answer. A number
 * that is no command, but has a name, is passed on to the other plug-ins. */
typedef kx_ptr(KXAPI* KxCommandEntry)(int32_t sender, int32_t number, kx_ptr first, kx_ptr second,
                                      int32_t toAll);
/* The engine's named-command entry: the command entry with the number of name. */
typedef kx_ptr(KXAPI* KxNamedCommandEntry)(int32_t sender, const char* name, kx_ptr first,
                                           kx_ptr second, int32_t toAll);

#pragma pack(push, 1)

/* Filled by GetPluginInfo. */
typedef struct KxPluginInfo {
  int32_t structVersion;          /* preset to KX_STRUCT_VERSION by the engine */
  int32_t pluginVersion;          /* not read by the engine */
  int32_t engineVersion;          /* the lowest engine version the plug-in needs */
  char name[KX_NAME_SIZE];        /* the ID of the plug-in's entry in its package */
  char description[KX_NAME_SIZE]; /* not read by the engine */
  uint8_t refused;                /* non-zero: do not load this plug-in */
  uint8_t reserved[4623];         /* not read by the engine */
  kx_ptr eventEntry;              /* KxEventEntry */
} KxPluginInfo;

/* Sent with EV_SETSTARTUPINFO. */
typedef struct KxStartupInfo {
  int32_t structVersion;         /* KX_STRUCT_VERSION */
  int32_t engineVersion;         /* KX_ENGINE_VERSION */
  int32_t number;                /* the plug-in's number: the sender in its commands */
  char configFile[KX_NAME_SIZE]; /* absolute path of its configuration file, or "" */
  kx_ptr messageCodeEntry;       /* KxMessageCodeEntry */
  kx_ptr commandEntry;           /* KxCommandEntry */
  kx_ptr namedCommandEntry;      /* KxNamedCommandEntry */
} KxStartupInfo;

/* CM_GETLANGUAGE: the texts follow the record in the same buffer. */
typedef struct KxLanguageRecord {
  kx_ptr abbreviation;
  kx_ptr displayName;
  kx_ptr next; /* the next offered language's abbreviation, 0 for the last */
} KxLanguageRecord;

/* CM_GETFEATURE: the walk from "" through next visits the whole tree, depth first. */
typedef struct KxFeatureRecord {
  kx_ptr id;
  kx_ptr name;        /* expanded */
  kx_ptr description; /* expanded */
  int32_t required;   /* -1 or 0 */
  kx_ptr parent;      /* the parent's ID, 0 at the top */
  kx_ptr next;        /* the next feature's ID, 0 after the last */
} KxFeatureRecord;

/* CM_GETINSTALLTYPE */
typedef struct KxInstallTypeRecord {
  kx_ptr id;
  kx_ptr name;        /* expanded */
  kx_ptr description; /* expanded */
  int32_t custom;     /* -1 or 0 */
  kx_ptr next;        /* the next available install type's ID, 0 after the last */
} KxInstallTypeRecord;

/* CM_GETPCPARAM's first parameter. */
typedef struct KxParamQuery {
  kx_ptr group;
  kx_ptr parameter;
  kx_ptr defaultValue;
} KxParamQuery;

/* EV_CALCFUNCTION: the function's name and its arguments follow, each zero-terminated, the
 * arguments closed by one more zero. */
typedef struct KxCalcFunctionBlock {
  int32_t id;
  kx_ptr name;
  kx_ptr args;
} KxCalcFunctionBlock;

/* Item record of the file list (KX_LIST_FILES), also sent with EV_PROCESSITEM. */
typedef struct KxFileRecord {
  kx_ptr path; /* the entry's name, from EV_BEFOREPROCESSITEM on the destination */
  uint32_t size;
  uint32_t dosDateTime; /* date in the high 16 bits, time in the low 16 bits */
  uint32_t attributes;
  uint32_t mode; /* 0 installed, 1 removed */
} KxFileRecord;

/* Item record of the registry list. */
typedef struct KxRegistryRecord {
  kx_ptr key;
  kx_ptr name;
  kx_ptr value;
  uint32_t kind;    /* 0 text, 1 number, 2 binary, 3 multi-text */
  uint32_t removal; /* 1 removal, 0 addition */
} KxRegistryRecord;

/* Item record of the INI list. */
typedef struct KxIniRecord {
  kx_ptr file;
  kx_ptr section;
  kx_ptr key;
  kx_ptr value;
  uint32_t removal;
} KxIniRecord;

/* Item record of the shortcut list (KX_LIST_SHORTCUTS). */
typedef struct KxShortcutRecord {
  kx_ptr name; /* the link file without ".lnk" */
  kx_ptr cmdLine;
  kx_ptr arg;
  kx_ptr workDir;
  uint32_t showMode; /* 1 minimized, 2 maximized, otherwise 0 */
  kx_ptr iconFile;
  int32_t icon;
  uint32_t hotkey;
  kx_ptr description;
  uint32_t removal;
} KxShortcutRecord;

/* Item record of the server and font lists (KX_LIST_SERVERS, KX_LIST_FONTS). */
typedef struct KxPathRecord {
  kx_ptr path; /* the server's file, the font's final file */
  uint32_t reserved;
} KxPathRecord;

/* Item record of the program list (KX_LIST_PROGRAMS). */
typedef struct KxProgramRecord {
  kx_ptr cmdLine;
  kx_ptr arg;
  kx_ptr workDir;
  uint32_t showMode; /* 1 minimized, 2 maximized, 3 hidden, otherwise 0 */
  kx_ptr msg;
  uint32_t moment; /* 0 before installing, 1 after, 2 before uninstalling, 3 after, 4 before the
                      dialogs */
} KxProgramRecord;

#pragma pack(pop)

/* The one export: void GetPluginInfo(KxPluginInfo* info). */
typedef void(KXAPI* KxGetPluginInfoEntry)(KxPluginInfo* info);

#if defined(_WIN32) && !defined(_WIN64)
KX_STATIC_ASSERT(sizeof(KxPluginInfo) == 5162, "information record: 5162 bytes");
KX_STATIC_ASSERT(offsetof(KxPluginInfo, name) == 12, "name at 12");
KX_STATIC_ASSERT(offsetof(KxPluginInfo, refused) == 534, "refusal byte at 534");
KX_STATIC_ASSERT(offsetof(KxPluginInfo, eventEntry) == 5158, "event entry at 5158");
KX_STATIC_ASSERT(sizeof(KxStartupInfo) == 285, "start-up record: 285 bytes");
KX_STATIC_ASSERT(offsetof(KxStartupInfo, messageCodeEntry) == 273, "entries from 273");
KX_STATIC_ASSERT(sizeof(KxFeatureRecord) == 24, "feature record: six words");
KX_STATIC_ASSERT(sizeof(KxInstallTypeRecord) == 20, "install type record: five words");
KX_STATIC_ASSERT(sizeof(KxCalcFunctionBlock) == 12, "call block: three words");
KX_STATIC_ASSERT(sizeof(KxFileRecord) == 20, "file record: five words");
KX_STATIC_ASSERT(sizeof(KxRegistryRecord) == 20, "registry record: five words");
KX_STATIC_ASSERT(sizeof(KxIniRecord) == 20, "INI record: five words");
KX_STATIC_ASSERT(sizeof(KxShortcutRecord) == 40, "shortcut record: ten words");
KX_STATIC_ASSERT(sizeof(KxPathRecord) == 8, "server and font record: two words");
KX_STATIC_ASSERT(sizeof(KxProgramRecord) == 24, "program record: six words");
#endif
KX_STATIC_ASSERT(offsetof(KxPluginInfo, eventEntry) == 5158, "numeric fields keep their width");
KX_STATIC_ASSERT(sizeof(KxPluginInfo) == 5158 + sizeof(kx_ptr), "one pointer at the end");
KX_STATIC_ASSERT(sizeof(KxStartupInfo) == 273 + 3 * sizeof(kx_ptr), "three entries at the end");

#ifdef __cplusplus
}
#endif

#endif /* KXPLUGIN_H */
