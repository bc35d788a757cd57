// SPDX-License-Identifier: Apache-2.0
// The kinds of update and the models they are made for: the file type
// codes, the -T letters that name them, the models that main-CPU firmware
// exists for, and how an update file's type byte holds a type and a model.
// Everything that builds, reads, sends or describes an update takes them
// from here.
#ifndef ZV_FILE_TYPE_H
#define ZV_FILE_TYPE_H

#include <stdint.h>

// File type codes: the transfer code of an upload and the low nibble of an
// update file's type byte.
#define FILE_TYPE_MAIN 2
#define FILE_TYPE_LOGO 4
#define FILE_TYPE_HTML 6
#define FILE_TYPE_MODEL_QUERY 9  // transfer code of the model query + idata

// The type codes that the reader takes from a type byte.
#define FILE_TYPE_LOWEST 1
#define FILE_TYPE_HIGHEST 9

// Main-CPU firmware exists for these models only.
#define MAIN_MODEL_LOWEST 1
#define MAIN_MODEL_HIGHEST 3

// The type byte of an update file: the type code in bits 0-3, the model's
// low four bits in bits 4-7.
inline uint8_t typeModelByte(uint8_t bType, uint8_t bModel) {
  return (uint8_t)((bModel << 4) | bType);
}
inline uint8_t typeOfTypeModel(uint8_t bTypeModel) { return (uint8_t)(bTypeModel & 0x0F); }
inline uint8_t modelOfTypeModel(uint8_t bTypeModel) { return (uint8_t)(bTypeModel >> 4); }

inline bool isMainModel(unsigned nModel) {
  return nModel >= MAIN_MODEL_LOWEST && nModel <= MAIN_MODEL_HIGHEST;
}

// The file type code that a -T letter names (M, L or H); 0 for any other
// character.
uint8_t fileTypeOfLetter(char cLetter);

// The choices as a sentence names them, into pszText (nSize at least 1,
// cut to fit): the -T letters ("M, L or H") and the main-CPU models
// ("1, 2 or 3").
void fileTypeLettersText(char *pszText, int nSize);
void mainModelsText(char *pszText, int nSize);

// The message for a main-CPU model outside that range, "Wrong quorvaUnit
// model: N" and its line end, into pszText.  Returns its length.
int mainModelText(uint8_t bModel, char *pszText, int nSize);

// True for a main-CPU model; for any other prints mainModelText and gives
// false.
bool mainModelAccepted(uint8_t bModel);

#endif
