// `tarnbox settings permissions`: which options users may change, and the
// value every user gets for an option they may not change.
#include "admin/settings_page.h"
#include "base/console_text.h"
#include <cstdio>

namespace {

struct PermissionsPage {
    std::string name, address, pop3_user, password, servers, signature;
    std::string poppassd, poppassd_fixed, quotation, quotation_fixed, columns, columns_fixed;
    std::string rows, rows_fixed, uploads, uploads_fixed, header, header_fixed;
    std::string read_marks, read_marks_fixed, jump, jump_fixed, cc, cc_fixed, bcc, bcc_fixed;
    std::string folding, folding_fixed, save_text, save_text_fixed;
    std::string delete_link, delete_link_fixed, apop, apop_fixed;
};
using Field = std::string PermissionsPage::*;

// The boxes and ON/OFF fixed values, each with the bit it stands for.
struct Row {
    Field box;
    SettingBit allowed;
    Field fixed; // nullptr: no ON/OFF list
    SettingBit fixed_on;
};

constexpr int BasicSettings::*P1 = &BasicSettings::user_policy_1;
constexpr int BasicSettings::*P2 = &BasicSettings::user_policy_2;
constexpr int BasicSettings::*P3 = &BasicSettings::user_policy_3;
constexpr int BasicSettings::*P4 = &BasicSettings::user_policy_4;
constexpr int BasicSettings::*LP = &BasicSettings::language_policy;
constexpr int BasicSettings::*MO = &BasicSettings::mail_options;
using P = PermissionsPage;

// Most policy bits say an option is fixed, so its box (change permitted) is
// on while they are clear; the "may change" bits and the two flag words are
// the other way round. Most fixed-value bits mean OFF; save_text's and
// apop's mean ON.
const Row kRows[] = {
    {&P::name, {P1, kPolicy1MayChangeName, true}, nullptr, {}},
    {&P::address, {P2, kPolicy2MayChangeAddress, true}, nullptr, {}},
    {&P::pop3_user, {P3, kPolicy3MayChangeId, true}, nullptr, {}},
    {&P::password, {P1, kPolicy1PasswordFixed, false}, nullptr, {}},
    {&P::servers, {P4, kPolicy4MayChangeServers, true}, nullptr, {}},
    {&P::signature, {P1, kPolicy1SignatureFixed, false}, nullptr, {}},
    {&P::poppassd,
     {&BasicSettings::poppassd_changeable, 0, true},
     &P::poppassd_fixed,
     {&BasicSettings::poppassd_value, 0, true}},
    {&P::quotation, {LP, kLanguageQuotationFixed, false}, nullptr, {}},
    {&P::columns, {LP, kLanguageColumnsFixed, false}, nullptr, {}},
    {&P::rows, {LP, kLanguageRowsFixed, false}, nullptr, {}},
    {&P::uploads, {P1, kPolicy1UploadNoFixed, false}, nullptr, {}},
    {&P::header,
     {P2, kPolicy2HeaderFixed, false},
     &P::header_fixed,
     {LP, kLanguageHeaderOff, false}},
    {&P::read_marks,
     {P2, kPolicy2DeleteFixed, false},
     &P::read_marks_fixed,
     {P4, kPolicy4DeleteOff, false}},
    {&P::jump, {P2, kPolicy2JumpFixed, false}, &P::jump_fixed, {P4, kPolicy4JumpOff, false}},
    {&P::cc, {P2, kPolicy2CcFixed, false}, &P::cc_fixed, {P4, kPolicy4CcOff, false}},
    {&P::bcc, {P2, kPolicy2BccFixed, false}, &P::bcc_fixed, {P4, kPolicy4BccOff, false}},
    {&P::folding,
     {P1, kPolicy1FoldingFixed, false},
     &P::folding_fixed,
     {P3, kPolicy3FoldingOff, false}},
    {&P::save_text,
     {P1, kPolicy1SaveTextFixed, false},
     &P::save_text_fixed,
     {P3, kPolicy3SaveTextOn, true}},
    {&P::delete_link,
     {MO, kMailDeleteLinkChangeable, true},
     &P::delete_link_fixed,
     {MO, kMailDeleteLinkOff, false}},
    {&P::apop,
     {&BasicSettings::apop_changeable, 0, true},
     &P::apop_fixed,
     {LP, kLanguageApopOn, true}},
};

const ListChoice kOnOff[] = {{"on", "ON"}, {"off", "OFF"}, {nullptr, nullptr}};
const ListChoice kUploads[] = {{"1", "1"}, {"2", "2"},   {"3", "3"},        {"4", "4"},
                               {"5", "5"}, {"6", "6"},   {"7", "7"},        {"8", "8"},
                               {"9", "9"}, {"10", "10"}, {nullptr, nullptr}};

using C = PageControl<PermissionsPage>;
constexpr auto kBox = ControlKind::box;
constexpr auto kList = ControlKind::list;
constexpr auto kEdit = ControlKind::edit;
const char* const kFixed = "固定値";

const std::vector<C> kControls = {
    {"change_name", "名前の変更許可(&N)", kBox, &P::name},
    {"change_address", "メールアドレスの変更許可(&M)", kBox, &P::address},
    {"change_pop3_user", "POP3ユーザー名の変更許可(&U)", kBox, &P::pop3_user},
    {"change_password", "パスワードの変更許可(&P)", kBox, &P::password},
    {"change_servers", "SMTP/POP3ｻｰﾊﾞｰ名の変更許可(&S)", kBox, &P::servers},
    {"change_signature", "署名の変更許可(&G)", kBox, &P::signature},
    {"change_poppassd", "poppassd を使用してパスワード変更の変更許可(&D)", kBox, &P::poppassd},
    {"poppassd_fixed", kFixed, kList, &P::poppassd_fixed, kOnOff, 0, "change_poppassd"},
    {"change_quotation", "引用符の変更許可(&Q)", kBox, &P::quotation},
    {"quotation_fixed", kFixed, kEdit, &P::quotation_fixed, nullptr, 6, "change_quotation"},
    {"change_columns", "入力エリア桁数の変更許可(&K)", kBox, &P::columns},
    {"columns_fixed", kFixed, kEdit, &P::columns_fixed, nullptr, 16, "change_columns"},
    {"change_rows", "入力エリア行数の変更許可(&L)", kBox, &P::rows},
    {"rows_fixed", kFixed, kEdit, &P::rows_fixed, nullptr, 16, "change_rows"},
    {"change_uploads", "添付ファイルの数の変更許可(&F)", kBox, &P::uploads},
    {"uploads_fixed", kFixed, kList, &P::uploads_fixed, kUploads, 0, "change_uploads"},
    {"change_header", "受信メールヘッダの表示の変更許可(&H)", kBox, &P::header},
    {"header_fixed", kFixed, kList, &P::header_fixed, kOnOff, 0, "change_header"},
    {"change_read_marks", "読んだメールは一覧でチェックの変更許可(&R)", kBox, &P::read_marks},
    {"read_marks_fixed", kFixed, kList, &P::read_marks_fixed, kOnOff, 0, "change_read_marks"},
    {"change_jump", "一覧に戻るとそのﾒｰﾙの位置までｼﾞｬﾝﾌﾟの変更許可(&J)", kBox, &P::jump},
    {"jump_fixed", kFixed, kList, &P::jump_fixed, kOnOff, 0, "change_jump"},
    {"change_cc", "CC を入力可能にするの変更許可(&C)", kBox, &P::cc},
    {"cc_fixed", kFixed, kList, &P::cc_fixed, kOnOff, 0, "change_cc"},
    {"change_bcc", "BCC を入力可能にするの変更許可(&B)", kBox, &P::bcc},
    {"bcc_fixed", kFixed, kList, &P::bcc_fixed, kOnOff, 0, "change_bcc"},
    {"change_folding", "折り返し表示の変更許可(&O)", kBox, &P::folding},
    {"folding_fixed", kFixed, kList, &P::folding_fixed, kOnOff, 0, "change_folding"},
    {"change_save_text", "本文をファイルに保存のリンク表示の変更許可(&T)", kBox, &P::save_text},
    {"save_text_fixed", kFixed, kList, &P::save_text_fixed, kOnOff, 0, "change_save_text"},
    {"change_delete_link", "削除後一覧に戻るのリンク表示の変更許可(&I)", kBox, &P::delete_link},
    {"delete_link_fixed", kFixed, kList, &P::delete_link_fixed, kOnOff, 0, "change_delete_link"},
    {"change_apop", "APOP 使用の変更許可(&A)", kBox, &P::apop},
    {"apop_fixed", kFixed, kList, &P::apop_fixed, kOnOff, 0, "change_apop"},
};

PermissionsPage Fill(const BasicSettings& s) {
    PermissionsPage p;
    for (const Row& row : kRows) {
        p.*row.box = box_text(read_bit(s, row.allowed));
        if (row.fixed) p.*row.fixed = box_text(read_bit(s, row.fixed_on));
    }
    p.quotation_fixed = sjis_to_utf8(std::string(s.fixed_quotation, strnlen(s.fixed_quotation, 6)));
    p.columns_fixed = std::to_string(s.fixed_columns);
    p.rows_fixed = std::to_string(s.fixed_rows);
    const int uploads = s.fixed_uploads >= 1 && s.fixed_uploads <= 10 ? s.fixed_uploads : 1;
    p.uploads_fixed = std::to_string(uploads);
    return p;
}

// The decimal value of an edit that begins with a digit, else 0.
long LeadingNumber(const std::string& text) {
    long n = 0;
    for (size_t i = 0; i < text.size() && text[i] >= '0' && text[i] <= '9'; i++)
        if ((n = n * 10 + (text[i] - '0')) > 100000) break;
    return n;
}

std::string Apply(const PermissionsPage& p, BasicSettings& s) {
    BasicSettings next = s;
    for (const Row& row : kRows) {
        write_bit(next, row.allowed, ticked(p.*row.box));
        if (row.fixed) write_bit(next, row.fixed_on, ticked(p.*row.fixed));
    }
    const long rows = LeadingNumber(p.rows_fixed);
    next.fixed_rows = rows == 0 || rows > 30 ? 10 : static_cast<int>(rows);
    const long columns = LeadingNumber(p.columns_fixed);
    next.fixed_columns = columns == 0 || columns > 200 ? 80 : static_cast<int>(columns);
    snprintf(next.fixed_quotation, sizeof next.fixed_quotation, "%s",
             edit_sjis(p.quotation_fixed).c_str());
    next.fixed_uploads = static_cast<int>(LeadingNumber(p.uploads_fixed));
    s = next;
    return {};
}

} // namespace

int admin_settings_permissions(AdminContext& ctx) {
    return run_settings_page<PermissionsPage>(ctx, kControls, Fill, Apply);
}
