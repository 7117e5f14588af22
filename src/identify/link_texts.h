// User-visible texts of the link state and the system menu, each defined once here.
// Window titles are built by appending a state text to kTitleProgram.
#pragma once

#include <string_view>

namespace tessaly {

inline constexpr std::string_view kTitleProgram = "Update Program";
inline constexpr std::string_view kTitleConnecting = "   GPS Connecting...";
inline constexpr std::string_view kTitleNoHardware = "   No hardware connected!";
inline constexpr std::string_view kTitleConnected = "   GPS Connected";
inline constexpr std::string_view kTitleVersion = "   V:";

// The system-menu item: brand part, this word, then the program version number.
inline constexpr std::string_view kMenuVersionWord = "Version";
inline constexpr int kProgramVersionNumber = 15;

}  // namespace tessaly
