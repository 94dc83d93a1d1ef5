/* The call interface of the unpack library: the cabinet extractor the engine carries as a resource
 * and loads from disk (TUnpacker is its only caller).
 *
 * Exports, found by name: "Open"(package path), "Enumerate"(notify, block), "Close"(). One
 * extraction at a time per process. Records are packed; number fields are 32-bit; fields that
 * carry an address are pointer-sized (on i686 every field is 32-bit). Texts are zero-terminated
 * ANSI. Calls use __stdcall on 32-bit Windows and the platform's convention elsewhere.
 *
 * The archive may be a plain cabinet or a package: a cabinet followed by the package trailer
 * ("KXPEND" marker), optionally behind a program image. The library finds the cabinet itself.
 *
 * This layout is shared with libraries already written to disk by older engines of the same
 * build only; change it together with TUnpacker. */
#ifndef KXUNPACK_H
#define KXUNPACK_H

#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define KXUNPACK_CALL __stdcall
#else
#define KXUNPACK_CALL
#endif

#if defined(_WIN32)
#define KXUNPACK_EXPORT __declspec(dllexport)
#else
#define KXUNPACK_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Size of the path buffer of kinds 1 and 2, terminating zero included. */
#define KXUNPACK_PATH_SIZE 1024
/* Size of the folder buffer of kind 4, terminating zero included. */
#define KXUNPACK_FOLDER_SIZE 261

enum KxUnpackKind {
  KXUNPACK_BEFORE_FILE = 1, /* KxUnpackFileRecord: 1 extract to path, 0 skip, -1 stop */
  KXUNPACK_FILE_DONE = 2,   /* KxUnpackFileRecord: -1 stop, other go on */
  KXUNPACK_WRITE = 3,       /* KxUnpackWriteRecord: -1 stop, other write and go on */
  KXUNPACK_NEXT_VOLUME = 4  /* KxUnpackVolumeRecord: -1 fail, other try the folder written back */
};

#pragma pack(push, 1)

typedef struct KxUnpackFileRecord {
  intptr_t name;      /* const char*: the entry's name in the archive */
  int32_t size;       /* uncompressed size */
  int32_t date;       /* DOS date */
  int32_t time;       /* DOS time */
  int32_t attributes; /* Windows file attributes from the archive */
  intptr_t path;      /* char[KXUNPACK_PATH_SIZE]: the target path */
} KxUnpackFileRecord;

typedef struct KxUnpackWriteRecord {
  intptr_t name;     /* const char*: the entry's name in the archive */
  intptr_t path;     /* const char*: the target path */
  int32_t fileSize;  /* uncompressed size of the file */
  int32_t blockSize; /* bytes in this block */
  int32_t done;      /* bytes of the file written, this block included */
  intptr_t block;    /* const void*: the bytes about to be written */
} KxUnpackWriteRecord;

typedef struct KxUnpackVolumeRecord {
  intptr_t volume; /* const char*: file name of the volume that cannot be opened */
  intptr_t folder; /* char[KXUNPACK_FOLDER_SIZE]: the folder tried; the answer's folder */
} KxUnpackVolumeRecord;

#pragma pack(pop)

typedef int32_t(KXUNPACK_CALL* KxUnpackNotify)(int32_t kind, void* record);
/* Sees every data block read from the archive before it is decompressed. */
typedef void(KXUNPACK_CALL* KxUnpackBlock)(void* block, int32_t count);

typedef int32_t(KXUNPACK_CALL* KxUnpackOpenFn)(const char* packagePath);
typedef int32_t(KXUNPACK_CALL* KxUnpackEnumerateFn)(KxUnpackNotify notify, KxUnpackBlock block);
typedef void(KXUNPACK_CALL* KxUnpackCloseFn)(void);

#ifdef __cplusplus
}
#endif

#endif /* KXUNPACK_H */
