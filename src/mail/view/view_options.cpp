#include "mail/view/view_options.h"

#include "store/data_file.h"

ViewOptions view_options(const Connection& c) {
    const BasicSettings& s = data_store().settings;
    ViewOptions o{};
    if (!c.user) return o;
    const uint8_t* own = c.user->options;
    o.folding = (s.user_policy_1 & kPolicy1FoldingFixed) ? !(s.user_policy_3 & kPolicy3FoldingOff)
                                                         : own[folding] != 0;
    // Folded text relies on "<br>", which only these browsers get.
    o.folding = o.folding && (c.browser & kBrowserMozilla2);
    o.showHeaders = (s.user_policy_2 & kPolicy2HeaderFixed)
                        ? !(s.language_policy & kLanguageHeaderOff)
                        : own[header_flag] != 0;
    o.markRead = (s.user_policy_2 & kPolicy2DeleteFixed) ? !(s.user_policy_4 & kPolicy4DeleteOff)
                                                         : own[delete_flag] != 0;
    o.jump = (s.user_policy_2 & kPolicy2JumpFixed) ? !(s.user_policy_4 & kPolicy4JumpOff)
                                                   : own[jump_flag] != 0;
    o.saveText = (s.user_policy_1 & kPolicy1SaveTextFixed) ? (s.user_policy_3 & kPolicy3SaveTextOn)
                                                           : own[save_text] != 0;
    o.deleteLink = (s.mail_options & kMailDeleteLinkChangeable)
                       ? own[delete_link] != 0
                       : !(s.mail_options & kMailDeleteLinkOff);
    if ((s.language_policy & kLanguageQuotationFixed) && s.fixed_quotation[0]) {
        o.quotation = true;
    } else {
        const int set =
            c.settingsIndex >= 0 && c.settingsIndex < kSettingsSets ? c.settingsIndex : 0;
        o.quotation = c.user->set[set].quotation[0] != '\0';
    }
    return o;
}
