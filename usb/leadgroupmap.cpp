#include "usb/leadgroupmap.h"

namespace Tavrix::Usb {

LeadGroupMap::LeadGroupMap()
    : std::unordered_map<std::string, LeadGroup>{
        {"Cab1", {18}},         {"Cab2Nehb", {32}}, {"Cab35", {5}},     {"Cab37MonoFrl", {33}},
        {"Cab37", {3}},         {"Cab6Mono", {24}}, {"Cab6Ortho", {31}}, {"Cab8Ecg", {30}},
        {"Cab8MonoFrl", {25}},  {"Cab8Mono", {1}},  {"Cab8", {1}},       {"CabNone", {17}},
        {"Manual16", {100}},    {"Manual24", {101}}}
{
}

} // namespace Tavrix::Usb
