// A stand-in JPEG 2000 module for the bridge's tests. The environment
// variable VEMRA_FAKE_J2K picks its answer; every call is recorded in a
// state the test reads through FakeJ2KState (the test keeps the module
// loaded, so the state outlives the bridge's own load and unload).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "j2k_fake_state.h"

namespace {

TFakeJ2KState gState;

std::string Mode() {
  const char* M = std::getenv("VEMRA_FAKE_J2K");
  return M ? M : "";
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) TFakeJ2KState* FakeJ2KState() { return &gState; }

__attribute__((visibility("default"))) int LibLoadImage(const char*, char*, TImageContainer* Image) {
  ++gState.Loads;
  const std::string M = Mode();
  if (M == "load_fails") return 7;
  // A 2 x 1 picture in the layout asked for.
  static const unsigned char kGrey[] = {10, 200};
  static const unsigned char kBgr[] = {1, 2, 3, 4, 5, 6};
  static const unsigned char kBgra[] = {1, 2, 3, 40, 5, 6, 7, 80};
  static const unsigned char kPlanes[] = {1, 4, 2, 5, 3, 6};  // blue plane, green plane, red plane
  const unsigned char* Src = kBgr;
  size_t Size = sizeof kBgr;
  int Type = kJ2KBgr;
  if (M == "grey17" || M == "grey1") Src = kGrey, Size = sizeof kGrey, Type = M == "grey17" ? kJ2KGreyMode : kJ2KGrey;
  if (M == "bgra") Src = kBgra, Size = sizeof kBgra, Type = kJ2KBgra;
  if (M == "planes") Src = kPlanes, Size = sizeof kPlanes, Type = kJ2KBgrPlanes;
  if (M == "bad_type") Type = 2;
  if (M == "type35") Type = 35;
  Image->Width = 2;
  Image->Height = 1;
  Image->PixelType = Type;
  Image->Data = static_cast<uint8_t*>(std::malloc(Size));
  std::memcpy(Image->Data, Src, Size);
  ++gState.Live;
  return 0;
}

__attribute__((visibility("default"))) int LibSaveImage(const char* FileName, const char* Format,
                                                        TImageContainer* Image) {
  ++gState.Saves;
  std::strncpy(gState.Format, Format ? Format : "(null)", sizeof gState.Format - 1);
  std::strncpy(gState.Options, Image->Options ? Image->Options : "(null)", sizeof gState.Options - 1);
  gState.Saved = *Image;
  const size_t N = static_cast<size_t>(Image->BytesPerRow) * static_cast<size_t>(Image->Height);
  std::memcpy(gState.SavedBytes, Image->Data, N < sizeof gState.SavedBytes ? N : sizeof gState.SavedBytes);
  if (Mode() == "save_fails") return 9;
  // Success said, and not one byte written.
  if (Mode() == "save_empty") return 0;
  // A few bytes, so the bridge has a file to put in place.
  if (FILE* F = std::fopen(FileName, "wb")) {
    std::fputs(gState.Format, F);
    std::fclose(F);
  }
  return 0;
}

#ifndef J2K_FAKE_WITHOUT_FREE
__attribute__((visibility("default"))) int LibFreeImage(TImageContainer* Image) {
  ++gState.Frees;
  std::free(Image->Data);
  Image->Data = nullptr;
  --gState.Live;
  return 0;
}
#endif

}  // extern "C"
