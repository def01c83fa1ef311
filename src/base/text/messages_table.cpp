// The page texts in UTF-8, converted once to Shift_JIS when first used.
#include "base/text/messages_table.h"

// Index 130 is unused: no page asks for it.
constexpr MessageText kMessageTable[kMessageCount] = {
    {"名前", "Name"},                                 // 0
    {"メールアドレス", "Mail Address"},               // 1
    {"アドレス帳", "Address Book"},                   // 2
    {"POP3 ユーザー名", "POP3 User Name"},            // 3
    {"SMTP サーバー名", "SMTP Server Name"},          // 4
    {"POP3 サーバー名", "POP3 Server Name"},          // 5
    {"パスワード", "Password"},                       // 6
    {"パスワード再入力", "Password Reentry"},         // 7
    {"旧パスワード", "Old Password          "},       // 8
    {"新パスワード", "New Password          "},       // 9
    {"新パスワード（再）", "New Password (Reentry)"}, // 10
    {"引用符", "Quotation Mark"},                     // 11
    {"署名", "Signature"},                            // 12
    {"設定", "Settings "},                            // 13
    {"登録", "Registration"},                         // 14
    {"差出人", "From"},                               // 15
    {"宛先", "To"},                                   // 16
    {"件名", "Subject"},                              // 17
    {"本文", "Text"},                                 // 18
    {"添付ファイル名", "Attached File Name"},         // 19
    {"送信", "Send"},                                 // 20
    {"送信日時", "Date"},                             // 21
    {"メールの読み書きの後は必ずブラウザを終了させてください。",
     "Be sure to close the browser after reading or writing mail."}, // 22
    {"受信メール一覧の上下にある読み書き終了をクリックするとブラウザも終了します。",
     "Clicking the Finish Reading/Writing located on the upper/lower part of the list of "
     "received messages closes the browser."}, // 23
    {"認証入力ダイアログの「このパスワードを保存する」のチェックはしないようにしてください"
     "。",
     "Do not check 'Save This Password' of the authentication dialog."}, // 24
    {"メールの読み書き", "Read/Write Mail"},                             // 25
    {"%s さんの受信メール一覧", "List of Received Mail of %s"},          // 26
    {"受信メールはありません", "No mail received."},                     // 27
    {"メールを書く", "Write Mail"},                                      // 28
    {"読み書き終了", "Finish Reading/Writing"},                          // 29
    {"チェックしたメールを削除", "Delete Marked Mail"},                  // 30
    {"チェックを元に戻す", "Return Markings to the previous settings"},  // 31
    {"設定変更", "Change Settings"},                                     // 32
    {"パスワードは変更する場合のみ入力してください",
     "Enter password only when it needs to be changed."},                        // 33
    {"無い場合は引用しません", "No quotation when there is none."},              // 34
    {"入力エリアの桁数", "Number of columns of the entry area."},                // 35
    {"入力エリアの行数", "Number of lines of the entry area.  "},                // 36
    {"添付ファイルの数", "Number of the attached files.       "},                // 37
    {"受信メールのヘッダを表示%s", "%s the header of received mail."},           // 38
    {"する", "Show"},                                                            // 39
    {"しない", "Hide"},                                                          // 40
    {"読んだメールは一覧表示でチェック%s", "%s mail already read in the list."}, // 41
    {"する", "Mark"},                                                            // 42
    {"しない", "No markings "},                                                  // 43
    {"メールを読んだ後、一覧に戻るとそのメールの位置までジャンプ%s",
     "When returning to the list, after reading  mail, %s to the mail's position on the "
     "list."},                                       // 44
    {"する", "jumps"},                               // 45
    {"しない", "does not jump"},                     // 46
    {"CC を入力可能にする", "Activate CC input."},   // 47
    {"%s 入力可能", "%s input possible."},           // 48
    {"%s 入力不可", "%s input impossible."},         // 49
    {"BCC を入力可能にする", "Activate BCC input."}, // 50
    {"APOP を使用%s", "%s APOP"},                    // 51
    {"する", "Use"},                                 // 52
    {"しない", "Not use"},                           // 53
    {"やり直し", "Redo"},                            // 54
    {"一覧に戻る", "Go back to the list"},           // 55
    {"設定%d変更", "Change in the Settings %d"},     // 56
    {"設定%d追加", "Add to the Settings %d"},        // 57
    {"設定%d全削除", "Delete all settings %d"},      // 58
    {"パスワードを変更しました。一旦ブラウザを終了させてください",
     "Password has been changed. Close the browser (to activate it)."},            // 59
    {"ブラウザ終了", "Close the browser"},                                         // 60
    {"トップページへ", "Go to top page"},                                          // 61
    {"POP3ユーザー名を入力してください", "Enter POP3 user name"},                  // 62
    {"すでに登録済みの POP3 ユーザー名です", "Already registered POP3 user name"}, // 63
    {"旧パスワードが違います", "The old password is incorrect."},                  // 64
    {"新パスワードと新パスワード(再)には同じものを入力してください",
     "Enter the same password in New Password and New Password (Reentry)."}, // 65
    {"新パスワードと新パスワード(再)を入力してください",
     "Enter the new password in the New Password and New Password (Reentry)."}, // 66
    {"パスワードとパスワード再入力には同じものを入れてください",
     "Enter the same password in the password entry and password reentry sections."}, // 67
    {"パスワードとパスワード再入力を入力してください",
     "Enter the new pass word in the password entry and password reentry sections."}, // 68
    {"名前を入力してください", "Enter your name."},                                   // 69
    {"メールアドレスを入力してください", "Enter the mail address."},                  // 70
    {"SMTPサーバー名を入力してください", "Enter the SMTP server name."},              // 71
    {"POP3サーバー名を入力してください", "Enter the POP3 server name."},              // 72
    {"入力エリアの行数に設定できる値は 1～%d です",
     "Number of rows that can be set for the entry area is 1-%d."}, // 73
    {"入力エリアの桁数に設定できる値は 10～%d です",
     "Number of columns that can be set for the entry area is 10-%d."},        // 74
    {"署名が長すぎます", "Signature is too long"},                             // 75
    {"削除終了", "Deletion completed"},                                        // 76
    {"設定%dの内容を削除しました", "Deleted the settings in the Settings %d"}, // 77
    {"%s さんのアドレス帳", "Address Book of %s"},                             // 78
    {"これ以上追加はできません", "No more adding possible"},                   // 79
    {"更新ボタンをクリックしないと追加されません",
     "Additions cannot be activated without clicking the Update button."}, // 80
    {"追加", "Add"},                                                       // 81
    {"追加する場合は、一番下の入力欄に名前とメールアドレスを入力して更新ボタンをクリックし"
     "て下さい。",
     "For adding, enter your name and mail address in the entry section on the bottom and "
     "click the Update button."}, // 82
    {"修正する場合は、修正したい箇所を直接修正後、更新ボタンをクリックください。",
     "For revision, alter parts you want to change, then click the Update button."}, // 83
    {"削除する場合は、削除したい名前の右にあるチェックボックスをチェックして更新ボタンをク"
     "リックください。",
     "For deleting, mark the checkbox on the right of the names you want to delete, then "
     "click the Update button. "}, // 84
    {"更新", "Update"},            // 85
    {"メールの読み書きを終了しました。<b>ブラウザを終了させて下さい。</b>",
     "Mail reading/writing completed. <b>Close the browser.</b>"},             // 86
    {"宛先に追加", "Add to To"},                                               // 87
    {"CC に追加", "Add to CC"},                                                // 88
    {"BCC に追加", "Add to BCC"},                                              // 89
    {"返信宛先", "Return To"},                                                 // 90
    {"設定%dで書く", "Write using Settings %d"},                               // 91
    {"削除後一覧に戻る", "Go back to the list after deleting"},                // 92
    {"差出人をアドレス帳に追加", "Add sender name to the address list"},       // 93
    {"件名を入力してください", "Enter the Subject."},                          // 94
    {"宛先を入力してください", "Enter the receiver's address."},               // 95
    {"宛先を正しく入力して下さい", "Enter the receiver's address correctly."}, // 96
    {"ユーザーの追加", "Add Users"},                                           // 97
    {"メールの送信", "Send Mail"},                                             // 98
    {"入力エラー", "Input error"},                                             // 99
    {"登録失敗", "Registration failure"},                                      // 100
    {"変更終了", "Changes completed."},                                        // 101
    {"登録終了", "Registration completed."},                                   // 102
    {"設定内容", "Contents of the Settings"},                                  // 103
    {"poppassd を使用して POP3 サーバー上のパスワードも変更する",
     "Change password on the POP3 server using poppassd"},                                // 104
    {"パスワードを poppassd を使用して変更した", "Password has changed using poppassd."}, // 105
    {"引用しない", "No quotation to be made"},                                            // 106
    {"メールの読み書きの後は必ず受信メール一覧の上下にある読み書き終了をクリックしてブラウ"
     "ザを終了させてください",
     "Always click Finish Reading/Writing located upper/lower part of the list of received "
     "mail to finish the browser."}, // 107
    {"再度読み書きしたい時はトップページからもう一度やり直してください",
     "When you want to read/write mail again, go back to the top page and repeat the "
     "procedure again."}, // 108
    {"%s サーバーに接続中にエラーが発生しました",
     "An error occurred while connecting to the %s server."}, // 109
    {"%s サーバーが見つかりませんでした。\r\n基本設定の %s "
     "サーバー名が正しいか確認してください。",
     "Could not find the %s server.\r\nCheck if the %s server name is in the basic "
     "settings."}, // 110
    {"%s サーバーが見つかりませんでした。\r\n設定%d の %s "
     "サーバー名が正しいか確認してください。",
     "Could not find the %s server.\r\nCheck if the %s server name in Settings %d is "
     "correct."}, // 111
    {"%s サーバーに接続できませんでした。\r\n%s "
     "サーバーがダウンしているか、応答していないようです。",
     "Could not connect to the %s server.\r\nThe %s server is down or is not "
     "responding."}, // 112
    {"%s サーバーにログインできませんでした。\r\nID や "
     "パスワードが違うか、すでにログインしています。",
     "Could not log in to the %s server.\r\nID or password is wrong or you are already "
     "logged in."}, // 113
    {"指定されたメールが POP3 サーバー上に存在しません",
     "The designated mail is not on POP3 server."}, // 114
    {"エラーメッセージ", "Error message"},          // 115
    {"エラー発生", "Error has occurred."},          // 116
    {"%s サーバーに接続中にエラーが発生しました",
     "An error has occurred while connecting to the %s server."}, // 117
    {"入力されたユーザー名が存在しないか、パスワードが間違っています。",
     " Input user name does not exist or password is incorrect."},                     // 118
    {"名前に < > ( ) , @ は使えません", "<> and () and ,@ are not allowed in names."}, // 119
    {"メールアドレスが正しくありません", "Mail address is incorrect."},                // 120
    {"%s さんの設定変更", "Change in %s Settings"},                                    // 121
    {"poppassd によるパスワード更新に失敗しました。",
     "Password updating process by poppassd has failed."},                          // 122
    {"サーバーが見つかりません。", "Server not found."},                            // 123
    {"接続できませんでした。", "Connection has failed."},                           // 124
    {"設定%d内容", "Contents of Settings %d"},                                      // 125
    {"削除", "Delete"},                                                             // 126
    {"ユーザー名", "User Name"},                                                    // 127
    {"トップページから入り直してください。", "Return to top page and start over."}, // 128
    {"指定の URL は存在しません。", "Designated URL does not exist."},              // 129
    {"", ""},                                                                       // 130
    {"添付ファイル", "Attached File"},                                              // 131
    {"(添付)", "(File)"},                                                           // 132
    {"分割されたメールがサーバー上に全部揃っていません。",
     "All divided mail is not found on the server."}, // 133
    {"分割されたメールは最初のメール(件名に[1/%d]がついているメール)を読んでください。",
     "Read the first mail (with [1/%d] included in the title) in the case of divided "
     "mail."},                                                                  // 134
    {"送信終了", "Transmission has successfully completed."},                   // 135
    {"メール送信時のエラー発生。", "Error occurred during mail transmission."}, // 136
    {"パスワードを変更しました。", "Password has been changed."},               // 137
    {"サーバー名", "Server Name"},                                              // 138
    {"上に移動", " Up "},                                                       // 139
    {"下に移動", "Down"},                                                       // 140
    {"名前でソート", "Sort(name)"},                                             // 141
    {"メールアドレスでソート", "Sort(mail address)"},                           // 142
    {"編集", "Edit"},                                                           // 143
    {"戻す", "Back"},                                                           // 144
    {"戻る", "Back"},                                                           // 145
    {"%s をアドレス帳に追加しました。\r\n(更新ボタンをクリックする必要はありません)",
     "%s has been added to the address book\r\n(clicking on the Update button is not "
     "necessary)."}, // 146
    {"更新ボタンをクリックしないと変更は反映されません。",
     "The change is not updated until the Update button is clicked."}, // 147
    {"メール本文の折り返しを有効にする（表示が崩れる場合があります）",
     "Make Mail Text Folding function available. (layout may get changed)"},           // 148
    {"メール本文の折り返しを有効に", "Text Folding"},                                  // 149
    {"%s さんの送信済メール一覧", "%s's list of mail sent"},                           // 150
    {"送信済メール一覧", "Go to the list of mail sent"},                               // 151
    {"受信メール一覧", "Go to the list of mail received"},                             // 152
    {"送信済メールはありません", "There are no messages in this folder."},             // 153
    {"本文をファイルに保存", "Save text in a file"},                                   // 154
    {"本文をファイルに保存のリンクを表示", "Specify link of where to save text"},      // 155
    {"削除後一覧に戻るのリンクを表示", "Display Return to List After Deleting links"}, // 156
    {"全員に返信", "Reply to all"},                                                    // 157
    {"%s に改行は使えません", "Line breaks cannot be used in %s."},                    // 158
    {"%s サーバー %s と安全に接続できませんでした。\r\n%s",
     "Could not connect securely to the %s server %s.\r\n%s"}, // 159
    {"サーバーの証明書の有効期限が切れているか、まだ有効になっていません。",
     "The server's certificate has expired or is not valid yet."}, // 160
    {"サーバーの証明書はこのサーバー名に対して発行されたものではありません。",
     "The server's certificate was not issued for this server name."}, // 161
    {"サーバーの証明書は信頼されていない認証局が発行したものです。",
     "The server's certificate was issued by an unknown authority."}, // 162
    {"サーバーの証明書を確認できませんでした。",
     "The server's certificate could not be verified."},         // 163
    {"TLS の開始に失敗しました。", "The TLS handshake failed."}, // 164
    {"サーバーが暗号化 (STLS / STARTTLS) に対応していないため、暗号化せずに続けることはしません。",
     "The server does not offer encryption (STLS / STARTTLS); the gateway does not go on "
     "without it."},                                      // 165
    {"POP3 の暗号化", "POP3 security"},                   // 166
    {"SMTP の暗号化", "SMTP security"},                   // 167
    {"なし", "None"},                                     // 168
    {"SSL/TLS (接続時から)", "SSL/TLS (from the start)"}, // 169
    {"SMTP 認証 (POP3 のユーザー名とパスワード)",
     "SMTP authentication (POP3 user name and password)"}, // 170
    {"管理者の設定により、サーバー証明書を検証しません。",
     "The administrator turned off certificate checks for these servers."}, // 171
    {"する", "Yes"},                                                        // 172
    {"しない", "No"},                                                       // 173
    {"ログインの失敗が続いたため、%d 秒たってからもう一度ログインしてください。",
     "Too many failed logins: please wait %d seconds before you try again."}, // 174
    {"POP3 サーバーがこのユーザー名とパスワードでのログインを受け付けませんでした。",
     "The POP3 server did not accept this user name and password."}, // 175
    {"POP3 サーバーに接続できないため、登録できませんでした。もう一度お試しください。",
     "The POP3 server could not be reached, so the account was not made. Please try again."}, // 176
    {"OAuth2 によるログイン", "OAuth2 login"},                                                // 177
    {"連携する", "Connect account"},                                                          // 178
    {"連携済み", "Connected"},                                                                // 179
    {"未連携", "Not connected"},                                                              // 180
    {"アカウントを連携しました。", "The account is connected."},                              // 181
    {"アカウントを連携できませんでした。", "The account could not be connected."},            // 182
    {"連携の要求が無効か、期限が切れています。設定ページからやり直してください。",
     "The request is not valid or has expired. Please start again from the settings page."}, // 183
    {"OAuth2 プロバイダー %s が登録されていません。",
     "The OAuth2 provider %s is not registered."},                               // 184
    {"この設定では OAuth2 を使いません。", "These settings do not use OAuth2."}, // 185
    {"SMTP ユーザー名", "SMTP User Name"},                                       // 186
    {"SMTP パスワード", "SMTP Password"},                                        // 187
    {"(送信用のログインが POP3 と違うときだけ入力)",
     "(only when sending takes another login than POP3)"}, // 188
    {"このフォームは無効です（古いページか、ほかのサイトから送られました）。ページを開き直してから"
     "やり直してください。",
     "This form is not valid (an old page, or sent from another site). Please open the page again "
     "and repeat."}, // 189
    {"Web 上の画像を表示する（送信者に開封が知られます）",
     "Show the pictures from the web (the sender may learn the mail was read)"}, // 190
};

// A text left out would leave a null at the end of the table.
static_assert(kMessageTable[kMessageCount - 1].english != nullptr);
