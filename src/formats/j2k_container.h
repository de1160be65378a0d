/* The record and the three routines the JPEG 2000 library module exports,
   shared by the module and the bridge that loads it. The module is loaded by
   file name at run time, so the layout below is the whole contract: it is
   fixed for 64-bit builds and checked at compile time on both sides. */
#ifndef VEMRA_J2K_CONTAINER_H
#define VEMRA_J2K_CONTAINER_H

#include <stddef.h>
#include <stdint.h>

/* Pixel types: one grey byte (1 or 17), blue-green-red bytes (3), the 32-bit
   bitmap's own blue-green-red-alpha bytes (4), and three planes of
   width x height bytes, blue then green then red (19). */
enum {
  kJ2KGrey = 1,
  kJ2KBgr = 3,
  kJ2KBgra = 4,
  kJ2KGreyMode = 17,
  kJ2KBgrPlanes = 19
};

typedef struct TImageContainer {
  int32_t Width;
  int32_t Height;
  int32_t BytesPerRow;   /* set by the writer: width x 3 (colour) or width (grey) */
  int32_t PixelType;
  uint8_t* Data;         /* rows top to bottom, each directly after the previous */
  int64_t Reserved;      /* 0 */
  const char* Options;   /* zero-terminated option string ("rate=0.25"), or null */
} TImageContainer;

/* The size of the format buffer LibLoadImage may fill with the format's name. */
#define J2K_FORMAT_BUFFER_SIZE 260

#ifdef __cplusplus
static_assert(sizeof(void*) == 8, "the module's record is laid out for 64-bit programs");
static_assert(offsetof(TImageContainer, Width) == 0 && offsetof(TImageContainer, Height) == 4 &&
                  offsetof(TImageContainer, BytesPerRow) == 8 && offsetof(TImageContainer, PixelType) == 12 &&
                  offsetof(TImageContainer, Data) == 16 && offsetof(TImageContainer, Reserved) == 24 &&
                  offsetof(TImageContainer, Options) == 32 && sizeof(TImageContainer) == 40,
              "the module's record layout changed");
extern "C" {
#endif

/* Result 0 means success. LibLoadImage fills the record with a new image
   owned by the module (and the format's name into Format, when given);
   LibFreeImage releases it; LibSaveImage writes the record's image in the
   named format ("JP2", "J2K", "JPC", "PNM", "RAS"). */
typedef int (*TLibLoadImage)(const char* FileName, char* Format, TImageContainer* Image);
typedef int (*TLibSaveImage)(const char* FileName, const char* Format, TImageContainer* Image);
typedef int (*TLibFreeImage)(TImageContainer* Image);

int LibLoadImage(const char* FileName, char* Format, TImageContainer* Image);
int LibSaveImage(const char* FileName, const char* Format, TImageContainer* Image);
int LibFreeImage(TImageContainer* Image);

#ifdef __cplusplus
}
#endif

/* The module's file name, looked for in the program's folder. */
#define J2K_MODULE_FILE_NAME "libvemra_j2k.so"

#endif
