// product: the program's name, version and maker, in one place.
#pragma once

namespace product {

inline constexpr const char kName[] = "Pelmora Media Editor";  // shown to users
inline constexpr const char kVersion[] = "1.0.0";
inline constexpr int kBuild = 1079;
inline constexpr const char kShortName[] = "Korvelle";  // folders, log and report names

inline constexpr const char kMaker[] = "Pelmora Software";
inline constexpr const char kSupportEmail[] = "support@pelmora.software";
inline constexpr const char kWebsite[] = "https://pelmora.software";

}  // namespace product
