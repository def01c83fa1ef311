#include "mail/compose/compose_options.h"

#include "base/charset/sjis.h"
#include "store/data_file.h"

ComposeOptions compose_options(const Connection& c) {
    const BasicSettings& s = data_store().settings;
    ComposeOptions o{};
    if (!c.user) return o;
    const uint8_t* own = c.user->options;
    const int set = c.settingsIndex >= 0 && c.settingsIndex < kSettingsSets ? c.settingsIndex : 0;
    o.cc = (s.user_policy_2 & kPolicy2CcFixed) ? !(s.user_policy_4 & kPolicy4CcOff)
                                               : own[cc_flag] != 0;
    o.bcc = (s.user_policy_2 & kPolicy2BccFixed) ? !(s.user_policy_4 & kPolicy4BccOff)
                                                 : own[bcc_flag] != 0;
    o.rows = (s.language_policy & kLanguageRowsFixed) ? s.fixed_rows : own[row_count];
    o.columns = (s.language_policy & kLanguageColumnsFixed) ? s.fixed_columns : own[column_count];
    o.uploads = (s.user_policy_1 & kPolicy1UploadNoFixed) ? s.fixed_uploads : own[upload_no];
    if (o.uploads < 0) o.uploads = 0;
    if (o.uploads > kMaxUploads) o.uploads = kMaxUploads;
    // An empty fixed mark means the administrator fixed nothing: the user's own holds.
    if ((s.language_policy & kLanguageQuotationFixed) && s.fixed_quotation[0])
        sjis_copy(o.quotation, s.fixed_quotation);
    else
        sjis_copy(o.quotation, c.user->set[set].quotation);
    o.signature = !(s.user_policy_1 & kPolicy1SignatureFixed);
    return o;
}
