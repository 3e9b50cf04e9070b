/* A stand-in dsound.dll, planted beside planted_load.exe: the library must never load it. */
int kestrel_planted_dsound;
