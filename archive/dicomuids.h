#pragma once

#include <string>

namespace Tavrix::Archive {

// New unique identifiers for studies, series and instances. Without a root
// of the site's own, each is "2.25." and the decimal value of a random UUID
// (a root that needs no registration); with a root, the root and a
// time-and-host based suffix from DCMTK.
class DicomUids
{
public:
    static std::string create(const std::string& root = {});
    // A root a site may configure: digits and dots, no empty or leading-zero
    // component, short enough to leave room for a suffix.
    static bool isRoot(const std::string& root);
};

} // namespace Tavrix::Archive
