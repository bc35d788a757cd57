// Intel HEX loader: reads a main-CPU firmware image into the image store,
// code bytes at their device addresses, idata bytes into the idata block.
#ifndef ZV_HEX_LOADER_H
#define ZV_HEX_LOADER_H

// Returns 1 when the whole file was loaded, 0 after a message.
int readHexFile(const char *pszPath);

// The value of a hexadecimal digit (either case), -1 for any other
// character.
int hexDigitValue(char c);

#endif
