/* A C99 client of the installed package: lists the microphones with the two-call
 * pattern and exits non-zero on any unexpected result. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <kestrelCliLib.h>

int main(void) {
  MmdrHandle* handle = NULL;
  MmdrDeviceEntry* entries;
  uint32_t count = 0, i;
  int found = 0;
  if (Mmdr_GetLibVersion() != MMDR_LIB_VERSION || Mmdr_Init(MMDR_MODE_1, &handle) != MMDR_OK ||
      Mmdr_EnumDevices(handle, MMDR_DEVICE_AUDIO, 0, NULL, &count) != MMDR_BUFFER_TOO_SMALL) {
    return 1;
  }
  entries = (MmdrDeviceEntry*)calloc(count, sizeof *entries); /* zeroed: every field ends */
  if (entries == NULL || Mmdr_EnumDevices(handle, MMDR_DEVICE_AUDIO, count * MMDR_ENTRY_SIZE,
                                          entries, &count) != MMDR_OK) {
    return 1;
  }
  for (i = 0; i < count; ++i) found |= strcmp(entries[i].name, "In: DeskMic") == 0;
  free(entries);
  Mmdr_Uninit(handle);
  printf("consumer: %s\n", found ? Mmdr_ResultName(MMDR_OK) : "In: DeskMic is missing");
  return found ? 0 : 1;
}
