#include "desktop/window/view_memory.h"

#include <QTabWidget>

#include "desktop/common/remembered_values.h"
#include "desktop/conversations/conversations_page.h"
#include "desktop/hosts/host_stats_page.h"
#include "settings/setting_values.h"

namespace {

void RememberDivider(CSettingValues& settings, CSplitPage& page, const char* name) {
  page.SetRestoredDivider(settings.ReadNumber(name, 0));
  QObject::connect(&page, &CSplitPage::DividerMoved, &page,
                   [&settings, &page, name] { settings.WriteNumber(name, page.DividerCentre()); });
}

}  // namespace

void RememberViews(CSettingValues& settings, QTabWidget& tabs, CHostStatsPage& hostStats,
                   CConversationsPage& conversations) {
  using namespace remembered;
  RememberDivider(settings, hostStats, kHostStatsDivider);
  RememberDivider(settings, conversations, kConversationsDivider);

  conversations.SetOptions({settings.ReadSwitch(kShowHeaders, true), settings.ReadSwitch(kShowData, true),
                            settings.ReadSwitch(kShowHex, false), settings.ReadSwitch(kFollowSelection, false)});
  QObject::connect(&conversations, &CConversationsPage::OptionsChanged, &conversations,
                   [&settings, &conversations] {
                     const CConversationsPage::COptions o = conversations.Options();
                     settings.WriteSwitch(kShowHeaders, o.headers);
                     settings.WriteSwitch(kShowData, o.data);
                     settings.WriteSwitch(kShowHex, o.hex);
                     settings.WriteSwitch(kFollowSelection, o.follow);
                   });

  const int tab = settings.ReadNumber(kLastTab, 0);
  if (tab > 0 && tab < tabs.count()) tabs.setCurrentIndex(tab);
  QObject::connect(&tabs, &QTabWidget::currentChanged, &tabs,
                   [&settings](int index) { settings.WriteNumber(kLastTab, index); });
}
