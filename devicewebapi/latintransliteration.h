#pragma once

#include <string>

namespace Tavrix::DeviceWebApi {

// Latin letters for names in other scripts, as machine-readable travel
// documents write them (ICAO Doc 9303: Cyrillic by its table, Latin
// letters with diacritics by its recommended equivalents, e.g. Ü → UE,
// ß → SS, É → E). Used where a file format allows ASCII only, so that
// "Иванов" becomes "Ivanov" and not "??????".
class LatinTransliteration
{
public:
    // `text` (UTF-8) with every letter the scheme covers replaced; ASCII
    // passes unchanged, anything else the scheme does not cover stays as it is.
    // Case follows the source letter: "Ж" → "Zh" before a small letter or at
    // a word's end after a small letter, else "ZH".
    static std::string toLatin(const std::string& text);
};

} // namespace Tavrix::DeviceWebApi
