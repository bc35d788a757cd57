// SPDX-License-Identifier: Apache-2.0
// Reading JSON (see json_read.h).
#include "tools/common/json_read.h"

#include <stdio.h>
#include <string.h>

#include <string>

#include "image/input_file.h"

using nlohmann::json;

bool readJsonFile(const char *pszPath, json *pJson, char *pszWhy, int nWhySize) {
  FILE *pFile = openInputFile(pszPath);
  if (pFile == NULL) {
    snprintf(pszWhy, (size_t)nWhySize, "cannot be opened");
    return false;
  }
  std::string text;
  char abChunk[65536];
  size_t n;
  while ((n = fread(abChunk, 1, sizeof(abChunk), pFile)) > 0 &&
         (long)(text.size() + n) <= JSON_FILE_MAX)
    text.append(abChunk, n);
  bool bError = ferror(pFile) != 0, bLong = n > 0;
  fclose(pFile);
  if (bError || bLong) {
    snprintf(pszWhy, (size_t)nWhySize, bError ? "cannot be read" : "is too long (over %ld MB)",
             JSON_FILE_MAX / (1024 * 1024));
    return false;
  }
  *pJson = json::parse(text, nullptr, false);
  if (pJson->is_discarded()) {
    snprintf(pszWhy, (size_t)nWhySize, "is not valid JSON (cut short or edited?)");
    return false;
  }
  return true;
}

// The member, when the value is an object that has it.
static const json *member(const json &object, const char *pszKey) {
  if (!object.is_object()) return nullptr;
  auto at = object.find(pszKey);
  return at == object.end() ? nullptr : &*at;
}

bool jsonText(const json &object, const char *pszKey, char *pszText, int nSize) {
  const json *pValue = member(object, pszKey);
  if (pValue == nullptr || !pValue->is_string()) return false;
  const std::string &text = pValue->get_ref<const std::string &>();
  if (text.size() >= (size_t)nSize || memchr(text.data(), 0, text.size()) != nullptr) return false;
  memcpy(pszText, text.c_str(), text.size() + 1);
  return true;
}

bool jsonTextOrNull(const json &object, const char *pszKey, char *pszText, int nSize) {
  const json *pValue = member(object, pszKey);
  if (pValue != nullptr && pValue->is_null()) {
    pszText[0] = '\0';
    return true;
  }
  return jsonText(object, pszKey, pszText, nSize);
}

bool jsonWhole(const json &object, const char *pszKey, long lMin, long lMax, long *plValue) {
  const json *pValue = member(object, pszKey);
  // The parser keeps a whole number without a sign as unsigned.
  if (pValue == nullptr || !pValue->is_number_unsigned()) return false;
  unsigned long long ull = pValue->get<unsigned long long>();
  if (ull < (unsigned long long)lMin || ull > (unsigned long long)lMax) return false;
  *plValue = (long)ull;
  return true;
}

bool jsonNumberOrNull(const json &object, const char *pszKey, double dMin, double dMax,
                     double *pdValue, int *pbNull) {
  const json *pValue = member(object, pszKey);
  if (pValue == nullptr) return false;
  *pbNull = pValue->is_null();
  if (*pbNull) return true;
  if (!pValue->is_number()) return false;
  double d = pValue->get<double>();
  if (!(d >= dMin && d <= dMax)) return false;
  *pdValue = d;
  return true;
}

bool jsonFlag(const json &object, const char *pszKey, int *pbValue) {
  const json *pValue = member(object, pszKey);
  if (pValue == nullptr || !pValue->is_boolean()) return false;
  *pbValue = pValue->get<bool>();
  return true;
}
