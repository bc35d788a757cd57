// SPDX-License-Identifier: Apache-2.0
// Reading JSON for the companions: a whole file parsed by nlohmann-json
// without exceptions, and typed looks into its objects that never throw:
// each says whether the member is there with the type asked for.  A text
// is copied only when it fits whole.
#ifndef ZV_COMMON_JSON_READ_H
#define ZV_COMMON_JSON_READ_H

#include <nlohmann/json.hpp>

// The largest file read.
#define JSON_FILE_MAX (64L * 1024 * 1024)

// Reads and parses the file.  Returns true, or false with the reason in pszWhy
// ("cannot be opened", "is not valid JSON (cut short?)", ...).
bool readJsonFile(const char *pszPath, nlohmann::json *pJson, char *pszWhy, int nWhySize);

// The member KEY of the object as a string that fits pszText.
bool jsonText(const nlohmann::json &object, const char *pszKey, char *pszText, int nSize);

// A string member, or null (then pszText is "").
bool jsonTextOrNull(const nlohmann::json &object, const char *pszKey, char *pszText, int nSize);

// A whole number member within lMin..lMax, which are not below 0 (a
// number with a sign is never taken).
bool jsonWhole(const nlohmann::json &object, const char *pszKey, long lMin, long lMax, long *plValue);

// A number member within dMin..dMax, or null (then *pbNull is 1 and
// *pdValue is left as it was).
bool jsonNumberOrNull(const nlohmann::json &object, const char *pszKey, double dMin, double dMax,
                     double *pdValue, int *pbNull);

// A true or false member.
bool jsonFlag(const nlohmann::json &object, const char *pszKey, int *pbValue);

#endif
