/* Broken sample that misbehaves the way its file name says, so that one
 * library covers every case: installed as "<fault>-<stage>.so", with fault
 * one of null (writes through a null pointer), overrun (writes on past the
 * end of the pixels until something stops it), loop (never returns), exit
 * (ends the process with code 3) or spawn (starts a sleeping process of its
 * own, writes its id to the library's file name + ".pid", then ends with
 * code 128, the last code that is no signal), and stage one of
 * query, identify, execute or dialog. Before misbehaving in execute or
 * dialog it inverts the picture, so a host that took those pixels back
 * would show it. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "vemra_plugin.h"

#define EXPORT __attribute__((visibility("default")))

static int Is(const char* Fault, const char* Stage) {
  Dl_info info;
  if (!dladdr((void*)&Is, &info) || info.dli_fname == NULL) return 0;
  const char* name = strrchr(info.dli_fname, '/');
  name = name ? name + 1 : info.dli_fname;
  size_t f = strlen(Fault);
  return strncmp(name, Fault, f) == 0 && name[f] == '-' && strncmp(name + f + 1, Stage, strlen(Stage)) == 0 &&
         strcmp(name + f + 1 + strlen(Stage), ".so") == 0;
}

static uint32_t* gPixels;

extern char** environ;

static void Spawn(void) {
  Dl_info info;
  char file[4096];
  if (!dladdr((void*)&Spawn, &info) || info.dli_fname == NULL) return;
  snprintf(file, sizeof file, "%s.pid", info.dli_fname);
  char* args[] = {"sleep", "300", NULL};
  pid_t pid;
  if (posix_spawnp(&pid, "sleep", NULL, NULL, args, environ) != 0) return;
  FILE* f = fopen(file, "w");
  if (f) fprintf(f, "%d\n", (int)pid), fclose(f);
}

static void Misbehave(const char* Stage) {
  if (Is("null", Stage)) *(volatile uint32_t*)NULL = 1;
  if (Is("overrun", Stage))
    for (volatile uint32_t* p = gPixels;; ++p) *p = 0;
  if (Is("spawn", Stage)) Spawn();
  if (Is("loop", Stage))
    for (volatile int spin = 1; spin;) {
    }
  if (Is("exit", Stage)) exit(3);
  if (Is("spawn", Stage)) exit(128);
}

static int32_t ShowModal(VemraPluginDialog* Self) {
  (void)Self;
  Misbehave("dialog");
  return VEMRA_MODAL_OK;
}
static void Release(VemraPluginDialog* Self) { (void)Self; }
static VemraPluginDialog gDialog = {ShowModal, Release};

EXPORT int32_t VemraPluginQuery(int32_t HostVersion) {
  (void)HostVersion;
  Misbehave("query");
  return 1;
}

EXPORT void VemraPluginIdentify(int32_t Index, VemraPluginInfo* Info) {
  (void)Index;
  Misbehave("identify");
  strcpy(Info->name, "Misbehave");
}

EXPORT void VemraPluginExecute(int32_t Index, VemraPluginHost* Host, VemraBitmap* Work) {
  (void)Index, (void)Work;
  size_t n = (size_t)Host->width * Host->height;
  for (size_t i = 0; i < n; ++i) Host->pixels[i] ^= 0x00FFFFFFu;
  gPixels = Host->pixels;
  Misbehave("execute");
  if (Is("null", "dialog") || Is("overrun", "dialog") || Is("loop", "dialog") || Is("exit", "dialog"))
    Host->form = &gDialog;
}
