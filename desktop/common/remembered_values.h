#pragma once

// The settings values the desktop keeps beyond the original set, each in
// its own value, written the moment the user changes it and read once at
// start-up. Switches are "1" or "0" (CSettingValues::ReadSwitch), the rest
// numbers.
namespace remembered {

inline constexpr const char* kTcp = "Tcp";                // on for a new user
inline constexpr const char* kUdp = "Udp";                // on for a new user
inline constexpr const char* kHostRole = "HostRole";      // 0 Client, 1 Server
inline constexpr const char* kLogStats = "LogStats";      // on for a new user
inline constexpr const char* kLogData = "LogData";
inline constexpr const char* kLogHex = "LogHex";
inline constexpr const char* kCloseToTray = "CloseToTray";
inline constexpr const char* kLastTab = "LastTab";        // tab index
// Divider centres in pixels from the page's left edge; 0: the page's own
// proportion.
inline constexpr const char* kHostStatsDivider = "HostStatsDivider";
inline constexpr const char* kConversationsDivider = "ConversationsDivider";
// The Conversations page's options.
inline constexpr const char* kShowHeaders = "ShowHeaders";  // on for a new user
inline constexpr const char* kShowData = "ShowData";        // on for a new user
inline constexpr const char* kShowHex = "ShowHex";
inline constexpr const char* kFollowSelection = "FollowSelection";

}  // namespace remembered
