#pragma once

class CConversationsPage;
class CHostStatsPage;
class CSettingValues;
class QTabWidget;

// Restores the window's view choices from `settings` and stores each one
// the moment the user changes it: the last tab, the Host Stats and
// Conversations dividers, and the Conversations page's options (see
// remembered_values.h for the names). The settings must outlive the
// widgets. User-interface thread.
void RememberViews(CSettingValues& settings, QTabWidget& tabs, CHostStatsPage& hostStats,
                   CConversationsPage& conversations);
