/* Lists the microphones through the installed header and import library, with the
 * two-call pattern; exits non-zero on any unexpected result. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <kestrelCliLib.h>

static int Fail(const char* what, MmdrResult result) {
  fprintf(stderr, "consumer: %s returned %lu\n", what, (unsigned long)result);
  return 1;
}

int main(void) {
  MmdrHandle* handle = NULL;
  MmdrDeviceEntry* entries;
  uint32_t count = 0;
  uint32_t i;
  int sawFixtureMicrophone = 0;
  MmdrResult result;

  if (Mmdr_GetLibVersion() != MMDR_LIB_VERSION) {
    return Fail("Mmdr_GetLibVersion", Mmdr_GetLibVersion());
  }
  result = Mmdr_Init(MMDR_MODE_1, &handle);
  if (result != MMDR_OK) return Fail("Mmdr_Init", result);

  result = Mmdr_EnumDevices(handle, MMDR_DEVICE_AUDIO, 0, NULL, &count);
  if (result != MMDR_BUFFER_TOO_SMALL || count == 0) return Fail("Mmdr_EnumDevices (count)", result);
  /* Zero-filled, so every field ends in a zero byte. */
  entries = (MmdrDeviceEntry*)calloc(count, sizeof *entries);
  if (entries == NULL) return 1;
  result = Mmdr_EnumDevices(handle, MMDR_DEVICE_AUDIO, count * MMDR_ENTRY_SIZE, entries, &count);
  if (result != MMDR_OK) return Fail("Mmdr_EnumDevices (entries)", result);
  for (i = 0; i < count; ++i) {
    printf("microphone %lu: %s\n", (unsigned long)i, entries[i].name);
    if (strcmp(entries[i].name, "In: DeskMic") == 0) sawFixtureMicrophone = 1;
  }
  free(entries);
  Mmdr_Uninit(handle);
  if (Mmdr_IsValid(NULL) != MMDR_INVALID_HANDLE) return Fail("Mmdr_IsValid", Mmdr_IsValid(NULL));
  if (!sawFixtureMicrophone) {
    fprintf(stderr, "consumer: the fixture microphone In: DeskMic is missing\n");
    return 1;
  }
  printf("consumer: ok\n");
  return 0;
}
